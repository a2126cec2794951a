// Where and how a board's serial number goes into its EEPROM image: `--serial-number
// FORMAT@eeprom:ADDR`. FORMAT is `u32le` or `u32be` (the number as four bytes) or a text with one
// replacement field in libfmt's notation (`BM-{:06d}`: "BM-001042"), written as its ASCII
// characters and a closing NUL. ADDR is the byte address in the EEPROM, decimal or 0x hex.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace bm::records {

struct SerialLayout {
  enum class Kind { Text, U32le, U32be };
  Kind kind = Kind::Text;
  std::string format;   // Text: the libfmt format
  int32_t address = 0;  // the first EEPROM byte
  std::string given;    // as typed

  // The bytes the number becomes, or why it cannot be one (a binary format takes numbers up to
  // 4294967295).
  std::variant<std::vector<uint8_t>, std::string> Bytes(int64_t number) const;
  // The number as the record and the operator read it: the text, or the number in decimal.
  std::string Text(int64_t number) const;
  // The fewest bytes any number takes (the address check before a number is taken).
  size_t MinBytes() const;
};

// The layout `text` names, or why it names none.
std::variant<SerialLayout, std::string> ParseSerialLayout(const std::string& text);

}  // namespace bm::records
