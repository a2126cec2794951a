// The options of the production record (docs/records.md): where runs are recorded, the
// station's name, the serial number written into each board and its sequence; and what the
// `records` command looks for. Read with the rest of the command line (CommandLine.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bm::cli {

struct RecordOptions {
  std::optional<std::string> database;  // --record DB, else BRINDLEMARK_RECORD: a file or a postgresql:// URI
  std::optional<std::string> stationName;   // --station-name
  std::optional<std::string> serialNumber;  // --serial-number FORMAT@eeprom:ADDR, as given (checked)
  std::optional<std::string> sequence;      // --sequence NAME
  std::optional<int64_t> sequenceStart;     // --sequence-start N: a new sequence's first number
  // records: what to look for, and how to show it
  std::optional<std::string> serial, sha256, since, outcome;
  bool csv = false;
};

}  // namespace bm::cli
