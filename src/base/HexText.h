// Hexadecimal text as every message and caption writes it: upper-case digits, no leading zeros
// for numbers, two digits per byte for byte-wise displays.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace bm {

// 0x1E950F -> "1E950F", 0 -> "0". A negative 32-bit value is taken as its low 32 bits.
std::string HexNumber(uint32_t value);
// 0x0F -> "0F".
std::string HexByte(uint8_t value);
// Every byte as two digits, separated by one blank: "41 C0 3F" (empty for no bytes).
std::string HexBytes(std::string_view bytes);

}  // namespace bm
