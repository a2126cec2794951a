// What a load produces: the two image buffers with their ends, and what the loaded file expects
// of the target. The readers fill them; the download and erase runs read them.
//
// The buffers are allocated once at their full size and never resized, so every index below
// their size is always valid.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bm {

inline constexpr int kFlashSize = 0x40000;   // 262,144 bytes
inline constexpr int kEepromSize = 0x10000;  // 65,536 bytes

struct ImageBuffers {
  std::vector<uint8_t> FlashArr = std::vector<uint8_t>(kFlashSize, 0);
  std::vector<uint8_t> EEpromArr = std::vector<uint8_t>(kEepromSize, 0);

  int32_t FBytesRead = 0;  // end of the loaded flash image (0 = none)
  int32_t EBytesRead = 0;  // end of the loaded EEPROM image (0 = none)
};

struct ExpectedIds {
  int32_t OrgID = 0;      // expected device signature; 0 or less = not compared
  int32_t OrgBootID = 0;  // expected loader ID; negative = not asked for
  int32_t OrgEEpEnd = 0;  // EEPROM download limit; 0 or less = none
};

// The line buffer `st`: the lines of the text file read last, without line ends. The HEX reader
// and the project reader clear and refill it; the project's key lookup searches it.
using LineBuffer = std::vector<std::string>;

}  // namespace bm
