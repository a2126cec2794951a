// bench/records: what the production record costs.
//  - `records` queries over 1,000,000 rows (SQLite file and PostgreSQL): by board serial, by its
//    number, by file hash, by time (the last hour) and by outcome; each the median of 21 runs of
//    the store's own query, the store opened once.
//  - What one board adds: the row begun, a serial number taken, the row finished (each committed
//    durably), the record opened as each run opens it; and a whole `download --port sim` with and
//    without --record --serial-number (median of 15 processes each).
// PostgreSQL runs in a cluster of its own (tests/support/PostgresServer.h).
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "records/RecordStore.h"
#include "support/PostgresServer.h"

namespace {

using namespace bm::records;
using Clock = std::chrono::steady_clock;
constexpr int kRows = 1'000'000;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    work();
    times.push_back(Ms(Clock::now() - start));
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// Row i: started 10 s after row i-1 from 2024-01-01, board BM-i, one of 20 firmware images, one
// run in 50 failed.
void FillSqlite(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const std::string sql =
      "BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
      std::to_string(kRows) +
      ") INSERT INTO attempts (started_at, seconds, command, host, station_name, port, signature, file, "
      "sha256, "
      "flash_sha256, eeprom_sha256, outcome, verified, pages_written, board_serial, sequence, serial_number, "
      "tool_version) SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 1704067200 + i * 10, 'unixepoch'), 4.2, "
      "'download', "
      "'bench', 'station-' || (i % 8), '/dev/ttyUSB' || (i % 8), '1E950F', 'board.ppro', "
      "printf('%064x', (i * 2654435761) % 4294967296), printf('%064x', 1000000 + i % 20), "
      "printf('%064x', 2000000 + i), CASE WHEN i % 50 = 0 THEN 'failed' ELSE 'done' END, 'flash and EEPROM', "
      "200, "
      "printf('BM-%07d', i), 'line', i, 'bench' FROM n; COMMIT;";
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
    std::fprintf(stderr, "%s\n", error);
  sqlite3_close(db);
}

void FillPostgres(const std::string& uri) {
  PGconn* conn = PQconnectdb(uri.c_str());
  const std::string sql =
      "INSERT INTO attempts (started_at, seconds, command, host, station_name, port, signature, file, "
      "sha256, "
      "flash_sha256, eeprom_sha256, outcome, verified, pages_written, board_serial, sequence, serial_number, "
      "tool_version) SELECT to_char(to_timestamp(1704067200 + i * 10) AT TIME ZONE 'UTC', "
      "'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), 4.2, 'download', 'bench', 'station-' || (i % 8), "
      "'/dev/ttyUSB' || (i % 8), '1E950F', 'board.ppro', lpad(to_hex((i * 2654435761) % 4294967296), 64, "
      "'0'), "
      "lpad(to_hex(1000000 + i % 20), 64, '0'), lpad(to_hex(2000000 + i), 64, '0'), "
      "CASE WHEN i % 50 = 0 THEN 'failed' ELSE 'done' END, 'flash and EEPROM', 200, 'BM-' || lpad(i::text, "
      "7, '0'), "
      "'line', i, 'bench' FROM generate_series(1, " +
      std::to_string(kRows) + ") AS i; ANALYZE attempts;";
  PGresult* r = PQexec(conn, sql.c_str());
  if (PQresultStatus(r) != PGRES_COMMAND_OK) std::fprintf(stderr, "%s\n", PQerrorMessage(conn));
  PQclear(r);
  PQfinish(conn);
}

std::string Hex64(long long value) {
  char text[80];
  std::snprintf(text, sizeof text, "%064llx", value);
  return text;
}

void Queries(const char* name, const std::string& where) {
  auto store = Store::Open(where);
  // The last row started at 1704067200 + kRows * 10: "the last hour" holds 360 rows.
  const long long last = 1704067200LL + kRows * 10LL;
  char since[40];
  const time_t hourAgo = static_cast<time_t>(last - 3600);
  std::strftime(since, sizeof since, "%Y-%m-%dT%H:%M:%S", std::gmtime(&hourAgo));
  const char* dayAgoText = "2024-04-25";
  struct Query {
    const char* what;
    Filter filter;
  };
  const std::vector<Query> queries = {
      {"--serial BM-0731042 (text)", {.serial = "BM-0731042"}},
      {"--serial 731042 (number)", {.serial = "731042"}},
      {"--sha256 (a file hash, 1 row)", {.sha256 = Hex64((731042LL * 2654435761LL) % 4294967296LL)}},
      {"--sha256 (an EEPROM hash, 1 row)", {.sha256 = Hex64(2000000 + 731042)}},
      {"--since the last hour (360 rows)", {.since = since}},
      {"--outcome failed --since (a day)", {.since = dayAgoText, .outcome = "failed"}},
  };
  for (const Query& q : queries) {
    size_t found = 0;
    const double ms = Median(21, [&] { found = store->Find(q.filter).size(); });
    std::printf("  %-10s %-36s %6zu rows  %8.2f ms\n", name, q.what, found, ms);
  }
}

// One board's record: open, begin, take a number, finish — as a run does it.
void PerBoard(const char* name, const std::string& where) {
  Store::Open(where)->EnsureSequence("bench", 1);
  const int boards = 100;
  const auto start = Clock::now();
  for (int i = 0; i < boards; ++i) {
    auto store = Store::Open(where);
    Attempt a;
    a.command = "download";
    a.id = store->Begin(a);
    store->TakeSerial("bench", a.id, [](int64_t n) { return std::to_string(n); });
    a.outcome = "done";
    store->Finish(a, true);
  }
  std::printf("  %-10s open + begin + number + finish: %.2f ms a board (%d boards)\n", name,
              Ms(Clock::now() - start) / boards, boards);
}

double Download(const std::string& extra) {
  const std::string command = std::string("'") + BM_CLI_PATH + "' download '" + BM_SOURCE_DIR +
                              "/examples/blink/blink.ppro' --port sim -q " + extra + " >/dev/null 2>&1";
  return Median(15, [&] {
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  });
}

}  // namespace

int main() {
  char dir[] = "/tmp/bm-records-bench-XXXXXX";
  const std::string folder = ::mkdtemp(dir);
  const std::string file = folder + "/record.db";
  bm::test::PostgresServer server;
  const std::string uri = server.Uri();

  std::printf("records over %d rows:\n", kRows);
  Store::Open(file);
  auto fill = Clock::now();
  FillSqlite(file);
  std::printf("  (SQLite filled in %.1f s, %.0f MB)\n", Ms(Clock::now() - fill) / 1000,
              static_cast<double>(std::filesystem::file_size(file)) / 1e6);
  Store::Open(uri);
  fill = Clock::now();
  FillPostgres(uri);
  std::printf("  (PostgreSQL filled in %.1f s)\n", Ms(Clock::now() - fill) / 1000);
  Queries("SQLite", file);
  Queries("PostgreSQL", uri);

  std::printf("what a record adds to a board:\n");
  PerBoard("SQLite", file);
  PerBoard("PostgreSQL", uri);
  const double plain = Download("");
  const std::string serial = " --serial-number 'BM-{:06d}@eeprom:16' --sequence cli --sequence-start 1";
  const double sqlite = Download("--record '" + folder + "/cli.db'" + serial);
  const double postgres = Download("--record '" + uri + "'" + serial);
  std::printf(
      "  download --port sim: %.1f ms; with --record --serial-number: SQLite %.1f ms (+%.1f), "
      "PostgreSQL %.1f ms (+%.1f)  (medians of 15 processes)\n",
      plain, sqlite, sqlite - plain, postgres, postgres - plain);
  std::filesystem::remove_all(folder);
}
