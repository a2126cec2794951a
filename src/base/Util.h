// Small conversions shared by the readers and the protocol. (The lamp colours of Util stand with
// the status display, in shell/core/StatusDisplay.h.)
#pragma once

#include <cstdint>
#include <string_view>

namespace bm::Util {

// A flag byte of a pack file: 1 and 255 mean true, every other value false.
constexpr bool int2bool(uint8_t b) { return b == 1 || b == 255; }
constexpr uint8_t lo(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }
constexpr uint8_t hi(uint16_t v) { return static_cast<uint8_t>((v / 256) & 0xFF); }

// True when the text, after an optional leading "&h"/"&H", holds only hex digits (or nothing).
bool IsValidHex(std::string_view text);

}  // namespace bm::Util
