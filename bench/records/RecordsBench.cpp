// bench/records: what the production record costs.
//  - `records` queries over 1,000,000 rows (SQLite file and PostgreSQL): by board serial, by its
//    number, by file hash, by time (the last hour) and by outcome; each the median of 21 runs of
//    the store's own query, the store opened once.
//  - What one board adds: the record opened as each run opens it, the row begun, a serial number
//    taken, the row finished, the record closed (each step's median); and a whole
//    `download --port sim` with and without --record --serial-number, and a process that only
//    opens the record (medians of 61 processes each).
// `records_bench board` runs the second part alone (see main).
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
#include <optional>
#include <string>
#include <vector>

#include "records/RecordStore.h"
#include "support/PostgresServer.h"

namespace {

using namespace bm::records;
using Clock = std::chrono::steady_clock;
constexpr int kRows = 1'000'000;
constexpr int kProcesses = 61;

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
  // The last row started at 1704067200 + kRows * 10: "the last hour" holds 361 rows (both ends).
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
      {"--since the last hour (361 rows)", {.since = since}},
      {"--outcome failed --since (a day)", {.since = dayAgoText, .outcome = "failed"}},
  };
  for (const Query& q : queries) {
    size_t found = 0;
    const double ms = Median(21, [&] { found = store->Find(q.filter).size(); });
    std::printf("  %-10s %-36s %6zu rows  %8.2f ms\n", name, q.what, found, ms);
  }
}

// One board's record as a run keeps it: open (with the sequence checked), begin, take a number,
// finish, close. Each step's median, and the mean of the whole.
void PerBoard(const char* name, const std::string& where) {
  Store::Open(where)->EnsureSequence("bench", 1);
  constexpr int kBoards = 100;
  std::vector<double> open, begin, take, finish, close, whole;
  for (int i = 0; i < kBoards; ++i) {
    const auto t0 = Clock::now();
    auto store = Store::Open(where);
    store->EnsureSequence("bench", 1);
    const auto t1 = Clock::now();
    Attempt a;
    a.command = "download";
    a.id = store->Begin(a);
    const auto t2 = Clock::now();
    store->TakeSerial("bench", a.id, [](int64_t n) { return std::to_string(n); });
    const auto t3 = Clock::now();
    a.outcome = "done";
    store->Finish(a, true);
    const auto t4 = Clock::now();
    store.reset();
    const auto t5 = Clock::now();
    open.push_back(Ms(t1 - t0));
    begin.push_back(Ms(t2 - t1));
    take.push_back(Ms(t3 - t2));
    finish.push_back(Ms(t4 - t3));
    close.push_back(Ms(t5 - t4));
    whole.push_back(Ms(t5 - t0));
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  double sum = 0;
  for (double ms : whole) sum += ms;
  std::printf(
      "  %-10s open %.2f + begin %.2f + number %.2f + finish %.2f + close %.2f ms (medians); "
      "%.2f ms a board (mean of %d)\n",
      name, median(open), median(begin), median(take), median(finish), median(close), sum / kBoards, kBoards);
}

// The example project with an EEPROM image of 32 bytes (none of them 0xFF), so that the serial's
// bytes at 16 lie inside it: a run with a serial then writes the same bytes as one without, and the
// difference is the record's alone.
std::string Project(const std::string& folder) {
  namespace fs = std::filesystem;
  const fs::path blink = fs::path(BM_SOURCE_DIR) / "examples/blink";
  fs::copy_file(blink / "blink.ppro", folder + "/blink.ppro");
  fs::copy_file(blink / "blink.hex", folder + "/blink.hex");
  std::FILE* eep = std::fopen((folder + "/blink.eep").c_str(), "w");
  std::fputs(
      ":10000000424C494E4B000000000000000000000080\n"
      ":100010002E2E2E2E2E2E2E2E2E2E2E2E2E2E2E2E00\n:00000001FF\n",
      eep);
  std::fclose(eep);
  return folder + "/blink.ppro";
}

// Runs of brindlemark-cli with each of `arguments`, one of each in turn (so that the machine's
// load falls on each alike): the median of `runs` of each.
std::vector<double> Processes(const std::vector<std::string>& arguments, int runs) {
  std::vector<std::vector<double>> times(arguments.size());
  for (int i = 0; i < runs; ++i) {
    for (size_t k = 0; k < arguments.size(); ++k) {
      const std::string command = std::string("'") + BM_CLI_PATH + "' " + arguments[k] + " >/dev/null 2>&1";
      const auto start = Clock::now();
      if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
      times[k].push_back(Ms(Clock::now() - start));
    }
  }
  std::vector<double> medians;
  for (std::vector<double>& t : times) {
    std::sort(t.begin(), t.end());
    medians.push_back(t[t.size() / 2]);
  }
  return medians;
}

}  // namespace

// `records_bench` runs both parts; `records_bench queries` or `records_bench board` one of them
// (the board's alone then on an empty record). `records_bench board URI` measures the board's part
// on that PostgreSQL database (a station's own server, or one behind a connection pooler) instead
// of a cluster of its own; it adds rows and a sequence `bench` there.
int main(int argc, char** argv) {
  const std::string part = argc > 1 ? argv[1] : "";
  char dir[] = "/tmp/bm-records-bench-XXXXXX";
  const std::string folder = ::mkdtemp(dir);
  const std::string file = folder + "/record.db";
  std::optional<bm::test::PostgresServer> server;
  if (argc <= 2) server.emplace();
  const std::string uri = server ? server->Uri() : argv[2];

  if (part != "board") {
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
  }

  if (part != "queries") {
    std::printf("what a record adds to a board:\n");
    PerBoard("SQLite", file);
    PerBoard("PostgreSQL", uri);
    const std::string project = Project(folder);
    const std::string serial = " --serial-number 'BM-{:06d}@eeprom:16' --sequence cli --sequence-start 1";
    // A process that opens the record and finds nothing: what a new process pays before its
    // board's first row (PostgreSQL: loading the client library and connecting).
    const std::vector<double> open = Processes({"--version", "records '" + file + "' --since 2999-01-01",
                                                "records '" + uri + "' --since 2999-01-01"},
                                               kProcesses);
    std::printf("  a process that opens the record: SQLite +%.1f ms, PostgreSQL +%.1f ms (over --version)\n",
                open[1] - open[0], open[2] - open[0]);
    const std::string download = "download '" + project + "' --port sim -q ";
    const std::vector<double> ms =
        Processes({download, download + "--record '" + folder + "/cli.db'" + serial,
                   download + "--record '" + uri + "'" + serial},
                  kProcesses);
    std::printf(
        "  download --port sim: %.1f ms; with --record --serial-number: SQLite %.1f ms (+%.1f), "
        "PostgreSQL %.1f ms (+%.1f)\n  (medians of %d processes each)\n",
        ms[0], ms[1], ms[1] - ms[0], ms[2], ms[2] - ms[0], kProcesses);
  }
  std::filesystem::remove_all(folder);
}
