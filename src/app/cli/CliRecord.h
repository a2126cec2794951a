// The production record of one board's run (`--record DB`, docs/records.md): its row begun as
// "unfinished" before the port is touched, its serial number taken once the chip is identified
// and laid over the EEPROM image of this run, and the row completed with the run's result.
// Only the process that flashes the board records it: gang and station check the record once
// (PrepareRecord) and leave each board's row to its child.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "app/cli/CommandLine.h"
#include "app/cli/ExitCodes.h"
#include "records/RecordStore.h"
#include "records/SerialFormat.h"
#include "shell/core/Engine.h"

namespace bm::cli {

// Why a run cannot be recorded as the options ask, with the outcome that refuses it.
struct RecordRefusal {
  Outcome outcome = Outcome::RecordFailed;
  std::string text;
};

// Opens the record (making or bringing up its tables) and, with --serial-number, checks the
// layout and the sequence (made with --sequence-start the first time). Nothing when all is well
// or no record is asked for.
std::optional<RecordRefusal> PrepareRecord(const CommandLine& line);

class BoardRecord {
 public:
  explicit BoardRecord(const CommandLine& line) : line_(line) {}
  bool Active() const { return line_.record.database.has_value(); }

  // After the load, before any port: opens the record, checks that the serial number fits the
  // loaded EEPROM, and inserts the unfinished row.
  std::optional<RecordRefusal> Begin(const LoadResult& load);
  // The port and chip the search found (the row's port, stable name, adapter serial, signature).
  void Found(SerialService& ports, const SearchResult& search);
  // With --serial-number, before a download: takes the next number and lays it over the EEPROM.
  std::optional<RecordRefusal> TakeSerial(RunRequest& request);
  // Completes the row; a refusal when it could not be written.
  std::optional<RecordRefusal> Finish(Outcome outcome, const RunReport& run, double seconds);

  std::optional<int64_t> Id() const { return row_.id ? std::optional<int64_t>(row_.id) : std::nullopt; }
  const std::string& BoardSerial() const { return row_.boardSerial; }

 private:
  const CommandLine& line_;
  std::unique_ptr<records::Store> store_;
  std::optional<records::SerialLayout> layout_;
  records::Attempt row_;
};

}  // namespace bm::cli
