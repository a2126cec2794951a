// Hexadecimal text as every message and caption writes it: upper-case digits, no leading zeros
// for numbers, two digits per byte for byte-wise displays; and the value of a hex digit as every
// reader takes it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace bm {

namespace detail {
inline constexpr std::array<int8_t, 256> kHexDigitValues = [] {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[static_cast<size_t>(c)] = static_cast<int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) t[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) t[static_cast<size_t>(c)] = static_cast<int8_t>(c - 'A' + 10);
  return t;
}();
}  // namespace detail

// The value of a hex digit in either case, or -1. A table look-up: the HEX reader calls it twice
// per data byte.
constexpr int HexDigitValue(char c) { return detail::kHexDigitValues[static_cast<uint8_t>(c)]; }

// 0x1E950F -> "1E950F", 0 -> "0". A negative 32-bit value is taken as its low 32 bits.
std::string HexNumber(uint32_t value);
// 0x0F -> "0F".
std::string HexByte(uint8_t value);
// Every byte as two digits, separated by one blank: "41 C0 3F" (empty for no bytes).
std::string HexBytes(std::string_view bytes);

}  // namespace bm
