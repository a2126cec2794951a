#include "records/SerialFormat.h"

#include <fmt/format.h>

#include <cerrno>
#include <cstdlib>

namespace bm::records {
namespace {

constexpr int64_t kMaxU32 = 0xFFFFFFFFLL;

std::optional<std::string> Formatted(const std::string& format, int64_t number) {
  try {
    return fmt::format(fmt::runtime(format), number);
  } catch (const fmt::format_error&) {
    return std::nullopt;
  }
}

}  // namespace

std::variant<SerialLayout, std::string> ParseSerialLayout(const std::string& text) {
  const std::string usage =
      "--serial-number needs FORMAT@eeprom:ADDR (BM-{:06d}@eeprom:0x10, u32le@eeprom:0)";
  const size_t at = text.rfind("@eeprom:");
  if (at == std::string::npos || at == 0) return usage + ", not '" + text + "'";
  SerialLayout layout;
  layout.given = text;
  layout.format = text.substr(0, at);
  const std::string address = text.substr(at + 8);
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(address.c_str(), &end, 0);
  if (address.empty() || *end != '\0' || errno == ERANGE || value < 0 || value > INT32_MAX ||
      address.find_first_of("+- ") != std::string::npos)
    return "--serial-number: '" + address + "' is not an EEPROM address (decimal, or 0x hex)";
  layout.address = static_cast<int32_t>(value);
  if (layout.format == "u32le" || layout.format == "u32be") {
    layout.kind = layout.format == "u32le" ? SerialLayout::Kind::U32le : SerialLayout::Kind::U32be;
    return layout;
  }
  // One replacement field for the number, and a text that tells numbers apart.
  const std::optional<std::string> zero = Formatted(layout.format, 0), one = Formatted(layout.format, 1);
  if (!zero || !one)
    return "--serial-number: '" + layout.format +
           "' is not a format for a number (one field such as {} or {:06d}, or u32le, u32be)";
  if (*zero == *one) return "--serial-number: '" + layout.format + "' has no field for the number ({:06d})";
  for (unsigned char c : *zero + *one)
    if (c < 0x20 || c > 0x7E)
      return "--serial-number: '" + layout.format + "' makes characters that are not printable ASCII";
  return layout;
}

std::variant<std::vector<uint8_t>, std::string> SerialLayout::Bytes(int64_t number) const {
  if (kind == Kind::Text) {
    const std::string text = Formatted(format, number).value_or("");
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
  }
  if (number < 0 || number > kMaxU32)
    return "serial number " + std::to_string(number) + " does not fit " + format + " (at most 4294967295)";
  std::vector<uint8_t> bytes(4);
  for (int i = 0; i < 4; ++i) {
    const auto byte = static_cast<uint8_t>((number >> (8 * i)) & 0xFF);
    bytes[kind == Kind::U32le ? static_cast<size_t>(i) : static_cast<size_t>(3 - i)] = byte;
  }
  return bytes;
}

std::string SerialLayout::Text(int64_t number) const {
  return kind == Kind::Text ? Formatted(format, number).value_or("") : std::to_string(number);
}

size_t SerialLayout::MinBytes() const {
  return kind == Kind::Text ? Formatted(format, 0).value_or("").size() + 1 : 4;
}

}  // namespace bm::records
