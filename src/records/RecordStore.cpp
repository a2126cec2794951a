#include "records/RecordStore.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "records/RecordSchema.h"
#include "records/SqlConnection.h"

namespace bm::records {
namespace {

static_assert(kSchemaSteps.size() == kSchemaVersion, "one step per schema version");

// The columns of a row, in the order Attempt lists them.
constexpr const char* kColumns =
    "id, started_at, seconds, command, host, station_name, port, port_stable_name, adapter_serial, "
    "signature, loader_ids, file, sha256, flash_sha256, eeprom_sha256, outcome, verified, pages_written, "
    "pages_skipped, board_serial, sequence, serial_number, tool_version";

Value Text(const std::string& text) { return text.empty() ? Value() : Value(text); }
std::string TextOf(const Value& v) { return v.value_or(""); }

// Runs `work` in a write transaction; an error rolls it back and goes on up.
template <class Work>
auto Transaction(SqlConnection& db, Sync sync, Work&& work) {
  db.BeginWrite(sync);
  try {
    if constexpr (std::is_void_v<decltype(work())>) {
      work();
      db.Commit();
    } else {
      auto result = work();
      db.Commit();
      return result;
    }
  } catch (...) {
    db.Rollback();
    throw;
  }
}

class SqlStore : public Store {
 public:
  SqlStore(std::unique_ptr<SqlConnection> db, std::string where)
      : db_(std::move(db)), where_(std::move(where)) {
    Migrate();
  }

  int64_t Begin(const Attempt& a) override {
    const std::vector<Row> rows = db_->Query(
        "INSERT INTO attempts (started_at, command, host, station_name, port, port_stable_name, "
        "adapter_serial, signature, loader_ids, file, sha256, outcome, verified, tool_version) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 'unfinished', 'none', ?) RETURNING id",
        {a.startedAt.empty() ? NowUtc() : a.startedAt, a.command, Text(a.host), Text(a.stationName),
         Text(a.port), Text(a.portStableName), Text(a.adapterSerial), Text(a.signature), Text(a.loaderIds),
         Text(a.file), Text(a.sha256), Text(a.version)});
    return std::stoll(*rows.at(0).at(0));
  }

  void Finish(const Attempt& a, bool serialUsed) override {
    Transaction(*db_, Sync::Written, [&] {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.3f", a.seconds.value_or(0));
      db_->Query(
          "UPDATE attempts SET seconds = ?, port = ?, port_stable_name = ?, adapter_serial = ?, signature = "
          "?, "
          "loader_ids = ?, flash_sha256 = ?, eeprom_sha256 = ?, outcome = ?, verified = ?, pages_written = "
          "?, "
          "pages_skipped = ? WHERE id = ?",
          {std::string(seconds), Text(a.port), Text(a.portStableName), Text(a.adapterSerial),
           Text(a.signature), Text(a.loaderIds), Text(a.flashSha256), Text(a.eepromSha256), a.outcome,
           a.verified, std::to_string(a.pagesWritten), std::to_string(a.pagesSkipped), std::to_string(a.id)});
      db_->Query("UPDATE serials SET state = ? WHERE attempt_id = ? AND state = 'taken'",
                 {serialUsed ? "used" : "void", std::to_string(a.id)});
    });
  }

  void EnsureSequence(const std::string& name, std::optional<int64_t> start) override {
    // Read first: the sequence exists on every run but the first, and reading takes no lock.
    std::optional<int64_t> first = StartOf(name);
    if (!first && start) {
      // Two stations that start one new sequence at once: the second's insert does nothing.
      db_->Query(
          "INSERT INTO sequences (name, start, next, created_at) VALUES (?, ?, ?, ?) "
          "ON CONFLICT (name) DO NOTHING",
          {name, std::to_string(*start), std::to_string(*start), NowUtc()});
      first = StartOf(name);
    }
    if (!first)
      throw SequenceError("the sequence '" + name + "' does not exist yet in " + where_ +
                          ": give its first number once with --sequence-start N");
    if (start && *start != *first)
      throw SequenceError("the sequence '" + name + "' already started at " + std::to_string(*first) +
                          " in " + where_ + "; --sequence-start " + std::to_string(*start) +
                          " cannot start it again (leave the option out, or name a new sequence)");
  }

  // A number goes on the board: its taking must survive a power cut, or the number could be
  // given again. The flushed commit also brings the row it names onto the disk.
  int64_t TakeSerial(const std::string& sequence, int64_t attemptId,
                     const std::function<std::string(int64_t)>& render) override {
    return Transaction(*db_, Sync::Flushed, [&] {
      const std::vector<Row> rows =
          db_->Query("UPDATE sequences SET next = next + 1 WHERE name = ? RETURNING next - 1", {sequence});
      if (rows.empty()) throw RecordError("the sequence '" + sequence + "' does not exist in " + where_);
      const int64_t number = std::stoll(*rows[0][0]);
      const std::string id = std::to_string(attemptId), text = std::to_string(number);
      db_->Query(
          "INSERT INTO serials (sequence, number, state, attempt_id, taken_at) VALUES (?, ?, 'taken', ?, ?)",
          {sequence, text, id, NowUtc()});
      db_->Query("UPDATE attempts SET sequence = ?, serial_number = ?, board_serial = ? WHERE id = ?",
                 {sequence, text, render(number), id});
      return number;
    });
  }

  std::vector<Attempt> Find(const Filter& f) override {
    std::string sql = std::string("SELECT ") + kColumns + " FROM attempts WHERE 1 = 1";
    std::vector<Value> params;
    if (f.serial) {
      // The serial as written, or its number (a binary serial's row holds the number as text too).
      const bool number = !f.serial->empty() &&
                          f.serial->find_first_not_of("0123456789") == std::string::npos &&
                          f.serial->size() < 19;
      sql += number ? " AND (board_serial = ? OR serial_number = ?)" : " AND board_serial = ?";
      params.push_back(*f.serial);
      if (number) params.push_back(*f.serial);
    }
    if (f.sha256) {
      sql += " AND (sha256 = ? OR flash_sha256 = ? OR eeprom_sha256 = ?)";
      params.insert(params.end(), 3, *f.sha256);
    }
    if (f.since) {
      sql += " AND started_at >= ?";
      params.push_back(*f.since);
    }
    if (f.outcome) {
      sql += " AND outcome = ?";
      params.push_back(*f.outcome);
    }
    // In the order the runs began: the time index gives both the range of --since and the order.
    sql += " ORDER BY started_at, id";
    std::vector<Attempt> found;
    for (const Row& r : db_->Query(sql, params)) {
      Attempt& a = found.emplace_back();
      a.id = std::stoll(*r[0]);
      a.startedAt = TextOf(r[1]);
      if (r[2]) a.seconds = std::stod(*r[2]);
      a.command = TextOf(r[3]);
      a.host = TextOf(r[4]);
      a.stationName = TextOf(r[5]);
      a.port = TextOf(r[6]);
      a.portStableName = TextOf(r[7]);
      a.adapterSerial = TextOf(r[8]);
      a.signature = TextOf(r[9]);
      a.loaderIds = TextOf(r[10]);
      a.file = TextOf(r[11]);
      a.sha256 = TextOf(r[12]);
      a.flashSha256 = TextOf(r[13]);
      a.eepromSha256 = TextOf(r[14]);
      a.outcome = TextOf(r[15]);
      a.verified = TextOf(r[16]);
      a.pagesWritten = r[17] ? std::stoi(*r[17]) : 0;
      a.pagesSkipped = r[18] ? std::stoi(*r[18]) : 0;
      a.boardSerial = TextOf(r[19]);
      a.sequence = TextOf(r[20]);
      if (r[21]) a.serialNumber = std::stoll(*r[21]);
      a.version = TextOf(r[22]);
    }
    return found;
  }

  std::vector<SerialNumber> Numbers(const std::string& sequence) override {
    std::vector<SerialNumber> numbers;
    for (const Row& r : db_->Query(
             "SELECT number, state, attempt_id FROM serials WHERE sequence = ? ORDER BY number", {sequence}))
      numbers.push_back({std::stoll(*r[0]), *r[1], std::stoll(*r[2])});
    return numbers;
  }

  int SchemaVersion() override {
    return std::stoi(*db_->Query(std::string("SELECT version FROM ") + kVersionTable, {}).at(0).at(0));
  }

 private:
  std::optional<int64_t> StartOf(const std::string& name) {
    const std::vector<Row> rows = db_->Query("SELECT start FROM sequences WHERE name = ?", {name});
    if (rows.empty()) return std::nullopt;
    return std::stoll(*rows[0][0]);
  }

  // Refuses a record newer than this program (its tables may mean what this version cannot know).
  void CheckNotNewer(int version) const {
    if (version > kSchemaVersion)
      throw RecordError("the record " + where_ + " is of version " + std::to_string(version) +
                        ", made by a newer brindlemark-cli; this one knows versions up to " +
                        std::to_string(kSchemaVersion) + ": update the program on this station");
  }

  // Creates the tables of a new record, brings an older one up to this version step by step,
  // refuses a newer one and a database that holds other tables than ours. Nearly every open finds
  // the record current: that is read without a write lock, so the boards of a gang do not queue
  // for it.
  void Migrate() {
    if (db_->HasTable(kVersionTable)) {
      const int version = SchemaVersion();
      CheckNotNewer(version);
      if (version == kSchemaVersion) return;
    }
    // Under the write lock, read again: another process may have migrated meanwhile.
    Transaction(*db_, Sync::Written, [&] {
      db_->LockForSchema();
      int version = 0;
      if (db_->HasTable(kVersionTable)) {
        version = SchemaVersion();
      } else if (!db_->Empty()) {
        throw RecordError(where_ +
                          " holds tables but no production record of this program: name a new file or "
                          "database");
      } else {
        db_->Script(std::string("CREATE TABLE ") + kVersionTable + " (version INTEGER NOT NULL)");
        db_->Script(std::string("INSERT INTO ") + kVersionTable + " (version) VALUES (0)");
      }
      CheckNotNewer(version);
      if (version == kSchemaVersion) return;
      for (; version < kSchemaVersion; ++version) {
        std::string step = kSchemaSteps[static_cast<size_t>(version)];
        const size_t id = step.find("{id}");
        if (id != std::string::npos) step.replace(id, 4, db_->IdColumn());
        db_->Script(step);
      }
      db_->Script(std::string("UPDATE ") + kVersionTable +
                  " SET version = " + std::to_string(kSchemaVersion));
    });
  }

  std::unique_ptr<SqlConnection> db_;
  std::string where_;
};

}  // namespace

bool Store::IsPostgres(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Store> Store::Open(const std::string& where, bool create) {
  if (IsPostgres(where)) return std::make_unique<SqlStore>(OpenPostgres(where), "the PostgreSQL database");
  return std::make_unique<SqlStore>(OpenSqlite(where, create), "'" + where + "'");
}

std::string NowUtc() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
  return text;
}

std::optional<std::string> NormalizedTime(const std::string& given) {
  // YYYY-MM-DD, then optionally [T ]HH:MM[:SS[.mmm]], then optionally Z: every digit where the
  // form has one, so that comparing texts compares times.
  std::string text = given;
  if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) text.pop_back();
  if (text.size() > 10 && text[10] == ' ') text[10] = 'T';
  constexpr std::string_view form = "dddd-dd-ddTdd:dd:dd.ddd";
  static constexpr size_t kLengths[] = {10, 16, 19, 23};
  bool known = false;
  for (size_t length : kLengths) known |= text.size() == length;
  if (!known) return std::nullopt;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (form[i] == 'd' ? !digit : text[i] != form[i]) return std::nullopt;
  }
  const int month = std::stoi(text.substr(5, 2)), day = std::stoi(text.substr(8, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  return text;
}

}  // namespace bm::records
