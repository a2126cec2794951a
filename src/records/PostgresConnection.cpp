// The record in a PostgreSQL database (libpq): what several stations share, with one sequence of
// serial numbers. A commit returns once the server has it (synchronous_commit off for the
// session: the server's WAL writer puts it on the disk within a fraction of a second); a flushed
// transaction sets it on for itself, whatever the server's default, so a number the server
// confirmed is on its disk, with everything committed before, and never handed out again.
#include "records/LibPq.h"
#include "records/RecordStore.h"
#include "records/SqlConnection.h"

namespace bm::records {
namespace {

// The URI without its password, for messages.
std::string Shown(const std::string& uri) {
  const size_t scheme = uri.find("://");
  const size_t at = uri.find('@');
  if (scheme == std::string::npos || at == std::string::npos) return uri;
  const size_t colon = uri.find(':', scheme + 3);
  if (colon == std::string::npos || colon > at) return uri;
  return uri.substr(0, colon) + ":***" + uri.substr(at);
}

// "?" placeholders as PostgreSQL numbers them: $1, $2, ...
std::string Numbered(const std::string& sql) {
  std::string text;
  int n = 0;
  for (char c : sql) text += c == '?' ? "$" + std::to_string(++n) : std::string(1, c);
  return text;
}

class PostgresConnection : public SqlConnection {
 public:
  explicit PostgresConnection(const std::string& uri) : shown_(Shown(uri)) {
    // The URI's own settings win over these defaults (they come later).
    const char* keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {"10", "brindlemark", uri.c_str(), nullptr};
    conn_ = LibPq().connectdbParams(keys, values, 1);
    if (LibPq().status(conn_) != CONNECTION_OK) {
      const std::string why = conn_ ? LibPq().errorMessage(conn_) : "out of memory";
      LibPq().finish(conn_);
      throw RecordError("cannot connect to the record " + shown_ + ": " + Trimmed(why));
    }
    Script("SET synchronous_commit TO off; SET client_min_messages TO warning;");
  }
  ~PostgresConnection() override { LibPq().finish(conn_); }

  void Script(const std::string& sql) override {
    PGresult* result = LibPq().exec(conn_, sql.c_str());
    Check(result);
    LibPq().clear(result);
  }

  std::vector<Row> Query(const std::string& sql, const std::vector<Value>& params) override {
    std::vector<const char*> values;
    for (const Value& v : params) values.push_back(v ? v->c_str() : nullptr);
    PGresult* result = LibPq().execParams(conn_, Numbered(sql).c_str(), static_cast<int>(values.size()),
                                          nullptr, values.data(), nullptr, nullptr, 0);
    Check(result);
    std::vector<Row> rows;
    const int count = LibPq().ntuples(result), columns = LibPq().nfields(result);
    rows.reserve(static_cast<size_t>(count));
    for (int r = 0; r < count; ++r) {
      Row& row = rows.emplace_back();
      for (int c = 0; c < columns; ++c)
        row.push_back(LibPq().getisnull(result, r, c) ? Value() : Value(LibPq().getvalue(result, r, c)));
    }
    LibPq().clear(result);
    return rows;
  }

  // Row locks (SELECT ... FOR UPDATE, UPDATE) keep two writers of one sequence apart. Both
  // statements go in one message: one round trip.
  void BeginWrite(Sync sync) override {
    Script(sync == Sync::Flushed ? "BEGIN; SET LOCAL synchronous_commit TO on" : "BEGIN");
  }
  void Commit() override { Script("COMMIT"); }
  void Rollback() noexcept override { LibPq().clear(LibPq().exec(conn_, "ROLLBACK")); }
  bool HasTable(const std::string& name) override {
    return Query("SELECT to_regclass(?) IS NOT NULL", {name}).at(0).at(0) == "t";
  }
  bool Empty() override {
    return Query("SELECT 1 FROM pg_tables WHERE schemaname = current_schema() LIMIT 1", {}).empty();
  }
  const char* IdColumn() const override { return "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"; }
  // Two stations opening a new database at once: the second waits, then finds the tables made.
  void LockForSchema() override { Script("SELECT pg_advisory_xact_lock(7236431001)"); }

 private:
  static std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
  }
  void Check(PGresult* result) {
    const ExecStatusType status = LibPq().resultStatus(result);
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
    const std::string why = Trimmed(LibPq().errorMessage(conn_));
    LibPq().clear(result);
    throw RecordError("the record " + shown_ + ": " + why);
  }

  std::string shown_;
  PGconn* conn_ = nullptr;
};

}  // namespace

std::unique_ptr<SqlConnection> OpenPostgres(const std::string& uri) {
  return std::make_unique<PostgresConnection>(uri);
}

}  // namespace bm::records
