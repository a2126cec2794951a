// Minimal Intel HEX reader for the emulated-chip tests: loads an image into a
// byte buffer so the harness can place the loader (and optionally an
// application) in flash, and the tests can compare flash and EEPROM dumps
// with the files the host program was given.
//
// Understands data (00), end (01), segment (02), start segment (03),
// linear (04) and start linear (05) records and verifies every checksum. The
// caller learns which record types occurred, so a test can insist that a file
// meant for the host program uses segment addressing only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace avrtest {

struct HexImage {
  std::map<uint32_t, uint8_t> bytes;  // address -> value, only what the file holds
  unsigned recordTypesSeen = 0;       // bit n set when a record of type n occurred

  uint32_t lowest() const { return bytes.empty() ? 0 : bytes.begin()->first; }
  uint32_t end() const { return bytes.empty() ? 0 : bytes.rbegin()->first + 1; }
  bool hasType(unsigned type) const { return recordTypesSeen & (1u << type); }
};

// Empty optional and a reason in *error when the file cannot be read or a
// record is malformed.
std::optional<HexImage> readIntelHex(const std::string &path, std::string *error = nullptr);

}  // namespace avrtest
