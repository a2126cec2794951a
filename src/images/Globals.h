// The shared state of the whole program: the two image buffers, what the loaded file expects,
// what the target reported, the window's mode and the link state.
//
// One Globals lives in the Main object for the whole run; the readers write into it, the
// programming sequences read it. The buffers are allocated once at their full size and are
// never resized, so every index below their size is always valid.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace bm {

inline constexpr int kFlashSize = 0x40000;   // 262,144 bytes
inline constexpr int kEepromSize = 0x10000;  // 65,536 bytes

struct Globals {
  std::vector<uint8_t> FlashArr = std::vector<uint8_t>(kFlashSize, 0);
  std::vector<uint8_t> EEpromArr = std::vector<uint8_t>(kEepromSize, 0);

  int32_t FBytesRead = 0;  // end of the loaded flash image (0 = none)
  int32_t EBytesRead = 0;  // end of the loaded EEPROM image (0 = none)
  int32_t OrgID = 0;       // expected device signature; 0 or less = not compared
  int32_t OrgBootID = 0;   // expected loader ID; negative = not asked for
  int32_t OrgEEpEnd = 0;   // EEPROM download limit; 0 or less = none

  int32_t TargID = 0;     // signature read from the target
  int32_t FlashEnd = 0;   // target flash size in 16-bit words
  int32_t BlockSize = 0;  // target page size in 16-bit words

  int32_t Modus = 0;   // 0 none, 1 file loaded, 2 target connected, 3 programming
  bool COMok = false;  // port open and the loader answered
  int32_t serial_count = 0;
  std::optional<std::filesystem::path> f;  // the current file

  // The line buffer: lines of the text file read last, without line ends.
  std::vector<std::string> st{"", ""};
};

}  // namespace bm
