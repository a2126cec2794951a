// The record in a SQLite file (libsqlite3), in write-ahead-log mode: readers never wait for the
// stations writing. A commit is written into the log (synchronous=NORMAL): a killed process keeps
// it, and only a flushed transaction waits for the disk (synchronous=FULL for its commit), which
// also brings every frame logged before it onto the disk. Several processes share one file
// (gang's children, several stations on one machine): a writer waits for the one before it, up to
// a minute.
#include <sqlite3.h>

#include <filesystem>

#include "records/RecordStore.h"
#include "records/SqlConnection.h"

namespace bm::records {
namespace {

constexpr int kBusyWaitMs = 60'000;
constexpr int kCheckpointPages = 200;  // about ten boards' rows

class SqliteConnection : public SqlConnection {
 public:
  SqliteConnection(const std::string& path, bool create) : path_(path) {
    std::error_code ec;
    if (!create && !std::filesystem::exists(path, ec))
      throw RecordError("the record '" + path + "' does not exist");
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      const std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw RecordError("cannot open the record '" + path + "': " + why);
    }
    sqlite3_busy_timeout(db_, kBusyWaitMs);
    // Each board's run opens the record and closes it. Closing the last connection would copy
    // the log into the file and delete it, and the next run would make it anew: three more waits
    // for the disk a board. The log stays instead, and is copied in whenever it has grown to
    // kCheckpointPages (by whichever commit finds it so); a smaller log is quicker for the next
    // run to read when it opens the record.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_wal_autocheckpoint(db_, kCheckpointPages);
    sqlite3_extended_result_codes(db_, 1);
    try {
      // A file that is not a database fails here, at its first read.
      Query("PRAGMA journal_mode=WAL", {});
      Script("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
    } catch (...) {
      sqlite3_close(db_);
      throw;
    }
  }
  ~SqliteConnection() override { sqlite3_close(db_); }

  void Script(const std::string& sql) override {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string why = error ? error : sqlite3_errmsg(db_);
      sqlite3_free(error);
      Fail(why);
    }
  }

  std::vector<Row> Query(const std::string& sql, const std::vector<Value>& params) override {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK)
      Fail(sqlite3_errmsg(db_));
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owned(statement, sqlite3_finalize);
    for (size_t i = 0; i < params.size(); ++i) {
      const int at = static_cast<int>(i + 1);
      if (params[i])
        sqlite3_bind_text(statement, at, params[i]->data(), static_cast<int>(params[i]->size()),
                          SQLITE_TRANSIENT);
      else
        sqlite3_bind_null(statement, at);
    }
    std::vector<Row> rows;
    for (;;) {
      const int step = sqlite3_step(statement);
      if (step == SQLITE_DONE) return rows;
      if (step != SQLITE_ROW) Fail(sqlite3_errmsg(db_));
      Row& row = rows.emplace_back();
      const int columns = sqlite3_column_count(statement);
      for (int c = 0; c < columns; ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, c));
        row.push_back(text ? Value(std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, c))))
                           : std::nullopt);
      }
    }
  }

  // IMMEDIATE: the write lock at once, so a read inside the transaction is never made stale by
  // another writer (the sequence's next number is read, then moved on). SQLite takes the level
  // of sync only outside a transaction, and applies it at the commit.
  void BeginWrite(Sync sync) override {
    if (sync == Sync::Flushed) {
      Script("PRAGMA synchronous=FULL");
      flushed_ = true;
    }
    try {
      Script("BEGIN IMMEDIATE");
    } catch (...) {
      Written();
      throw;
    }
  }
  void Commit() override {
    Script("COMMIT");
    Written();
  }
  void Rollback() noexcept override {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    Written();
  }
  bool HasTable(const std::string& name) override {
    return !Query("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?", {name}).empty();
  }
  bool Empty() override { return Query("SELECT 1 FROM sqlite_master LIMIT 1", {}).empty(); }
  const char* IdColumn() const override { return "INTEGER PRIMARY KEY"; }

 private:
  // Back to commits that do not wait for the disk, after a flushed transaction.
  void Written() noexcept {
    if (flushed_) sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    flushed_ = false;
  }
  [[noreturn]] void Fail(const std::string& why) const {
    throw RecordError("the record '" + path_ + "': " + why);
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  bool flushed_ = false;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, bool create) {
  return std::make_unique<SqliteConnection>(path, create);
}

}  // namespace bm::records
