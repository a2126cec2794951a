// Writing pack files: the byte layout the pack reader takes apart, put together.
//
// Used by the brindlemark-packwriter tool (packs for production lines and the examples) and by
// the tests, which build ordinary and hostile packs from it. Counts in the header are the image
// sizes plus one: the reader takes count - 1 bytes.
#pragma once

#include <cstdint>
#include <vector>

#include "images/dParamList.h"

namespace bm::packwriter {

inline constexpr int kHeaderSize = 24;
inline constexpr int kParamBlockSize = 0xC3;  // the last field sits at 0xC2

// The six header fields, written as they are (tests put any value here).
struct Header {
  uint32_t ParamOffset = 0;
  int32_t ParamLength = 0;
  int32_t FlashOffset = 0;
  int32_t FlashCount = 0;
  int32_t EEpromOffset = 0;
  int32_t EEpromCount = 0;
};

std::vector<uint8_t> HeaderBytes(const Header& header);

// The parameter block of `params`. Text fields hold UTF-8 and are written as 8-bit Latin-1
// characters (others become '?'); a text longer than its slot is cut to fit.
std::vector<uint8_t> ParamBlock(const dParamList::ParamSet& params);

// A whole pack in header order: header, parameter block, flash image, EEPROM image.
std::vector<uint8_t> Pack(const dParamList::ParamSet& params, const std::vector<uint8_t>& flash,
                          const std::vector<uint8_t>& eeprom);

}  // namespace bm::packwriter
