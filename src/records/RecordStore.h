// The production record: one row per attempt at a board (time, station, port, chip, file and the
// hashes of what was written, outcome, what was checked, the board's serial number) and the
// serial number sequences, in a SQLite file or a PostgreSQL database. docs/records.md describes
// the tables and the rules of a sequence.
//
// A row is begun as "unfinished" before a board's port is touched and finished when the run
// ends, so a run killed at any moment leaves its row. A serial number is taken in a transaction
// of its own, committed durably before the board is written; it ends "used" with the board that
// holds it, "void" with a run that failed, and stays "taken" when the run never ended. A number
// is never handed out twice: the sequence's next number moves on in the same transaction.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bm::records {

// The schema this build writes. Each version adds to the one before (RecordSchema.h); a file of
// an older version is brought up to it on opening, a newer one is refused.
inline constexpr int kSchemaVersion = 2;

// What went wrong with the record: the text says it for a person (the database's own words
// included).
class RecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The options name a sequence the record cannot give as asked (missing, or started elsewhere):
// the user's to correct, not the database's.
class SequenceError : public RecordError {
 public:
  using RecordError::RecordError;
};

// One attempt at a board. Empty texts are stored as NULL and read back as empty.
struct Attempt {
  int64_t id = 0;
  std::string startedAt;          // UTC, ISO 8601 to the millisecond: 2024-05-01T12:00:00.123Z
  std::optional<double> seconds;  // none while unfinished
  std::string command;            // download, erase
  std::string host, stationName;  // the station: host name and --station-name
  std::string port, portStableName, adapterSerial;
  std::string signature, loaderIds;  // "1E950F"; "257,16973,256,1"
  std::string file, sha256, flashSha256, eepromSha256;
  std::string outcome = "unfinished";  // the outcome table's name, or "unfinished"
  std::string verified = "none";       // none, flash, flash and EEPROM
  int pagesWritten = 0, pagesSkipped = 0;
  std::string boardSerial;  // as the board got it: the text, or the number of a binary one
  std::string sequence;
  std::optional<int64_t> serialNumber;
  std::string version;  // the tool's
};

// What `records` looks for; every given field must match.
struct Filter {
  std::optional<std::string> serial = std::nullopt;   // the board serial as written, or the number
  std::optional<std::string> sha256 = std::nullopt;   // of the file, the flash or the EEPROM written
  std::optional<std::string> since = std::nullopt;    // started at or after (UTC, ISO 8601, as Normalized)
  std::optional<std::string> outcome = std::nullopt;  // an outcome name, or "unfinished"
};

// One number of a sequence and where it went.
struct SerialNumber {
  int64_t number = 0;
  std::string state;  // taken (its run never ended), used, void
  int64_t attemptId = 0;
};

class Store {
 public:
  virtual ~Store() = default;

  // Opens the record at `where` (a SQLite file path, or a postgresql:// or postgres:// URI),
  // creating the schema on first use and bringing an older one up to date. `create`: a SQLite
  // file that does not exist is made (false: refused, as a query of a missing file should be).
  static std::unique_ptr<Store> Open(const std::string& where, bool create = true);
  static bool IsPostgres(const std::string& where);

  // Inserts `attempt` as unfinished, committed before it returns; its id.
  virtual int64_t Begin(const Attempt& attempt) = 0;
  // Completes the row of `attempt.id`, and ends the serial number taken for it: used when
  // `serialUsed` (the board holds it), void otherwise.
  virtual void Finish(const Attempt& attempt, bool serialUsed) = 0;

  // Makes sequence `name` start at `start` when it does not exist yet; one that exists must have
  // been started there. With no start, the sequence must exist. Refusals come as RecordError.
  virtual void EnsureSequence(const std::string& name, std::optional<int64_t> start) = 0;
  // Takes the next number of `sequence` for attempt `attemptId`, and notes it in that row with
  // `render`'s text of it, in one transaction committed before it returns.
  virtual int64_t TakeSerial(const std::string& sequence, int64_t attemptId,
                             const std::function<std::string(int64_t)>& render) = 0;

  virtual std::vector<Attempt> Find(const Filter& filter) = 0;
  virtual std::vector<SerialNumber> Numbers(const std::string& sequence) = 0;
  virtual int SchemaVersion() = 0;
};

// The current time as rows hold it.
std::string NowUtc();
// A time as given to --since ("2024-05-01", "2024-05-01 12:00", "2024-05-01T12:00:00Z") in the
// form rows hold, to compare as text; none when it is not such a time.
std::optional<std::string> NormalizedTime(const std::string& text);

}  // namespace bm::records
