// One connection to a record's database, as the store needs it: statements with text
// parameters ("?" in the text; PostgreSQL's are numbered for it), rows of texts back, and a
// transaction that writes. Each value travels as text or NULL; the columns' types convert it.
//
// A commit returns once the database holds it where a killed process cannot take it back (the
// operating system's file cache, the server's memory): enough for a row, which a power cut may
// only set back. A transaction begun with Sync::Flushed returns from its commit only once it is
// on the disk, with everything committed before it: what a serial number's taking needs.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace bm::records {

using Value = std::optional<std::string>;
using Row = std::vector<Value>;

enum class Sync {
  Written,  // the system holds the commit: a killed process keeps it, a power cut may lose it
  Flushed,  // the disk holds it, and every commit before it
};

class SqlConnection {
 public:
  virtual ~SqlConnection() = default;
  // Statements without parameters, several at once (the schema's steps).
  virtual void Script(const std::string& sql) = 0;
  virtual std::vector<Row> Query(const std::string& sql, const std::vector<Value>& params = {}) = 0;
  // Starts a transaction that will write, holding the database's write lock from its first
  // statement (so that reading, then writing, never meets another writer in between).
  virtual void BeginWrite(Sync sync) = 0;
  virtual void Commit() = 0;
  virtual void Rollback() noexcept = 0;
  // Whether a table of this name exists.
  virtual bool HasTable(const std::string& name) = 0;
  // Whether the database holds no table at all (a new one).
  virtual bool Empty() = 0;
  // The text of the row number column: the id of a new row, given by the database.
  virtual const char* IdColumn() const = 0;
  // Waits until no other process migrates (held until the transaction ends); nothing where the
  // write transaction already excludes them.
  virtual void LockForSchema() {}
};

std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, bool create);
std::unique_ptr<SqlConnection> OpenPostgres(const std::string& uri);

}  // namespace bm::records
