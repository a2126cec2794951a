#include "base/HexText.h"

namespace bm {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

}  // namespace

std::string HexNumber(uint32_t value) {
  char text[8];
  size_t at = sizeof text;
  do {
    text[--at] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  return std::string(text + at, sizeof text - at);
}

std::string HexByte(uint8_t value) { return {kDigits[value >> 4], kDigits[value & 0xF]}; }

std::string HexBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

}  // namespace bm
