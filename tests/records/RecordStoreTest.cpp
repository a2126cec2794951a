// The record's store against real databases: a SQLite file and a PostgreSQL server of the test's
// own (tests/support/PostgresServer.h). Each behaviour runs on both.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <thread>

#include "records/LibPq.h"
#include "records/RecordSchema.h"
#include "records/RecordStore.h"
#include "records/SerialFormat.h"
#include "support/PostgresServer.h"

namespace bm::records {
namespace {

namespace fs = std::filesystem;

test::PostgresServer& Server() {
  static test::PostgresServer server;
  return server;
}

enum class Kind { Sqlite, Postgres };

class StoreTest : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/bm-records-XXXXXX";
    folder_ = ::mkdtemp(dir);
    static int databases = 0;
    where_ =
        GetParam() == Kind::Sqlite ? folder_ + "/record.db" : Server().Uri("t" + std::to_string(++databases));
  }
  void TearDown() override { fs::remove_all(folder_); }

  Attempt Board(const std::string& station) {
    Attempt a;
    a.command = "download";
    a.host = "bench";
    a.stationName = station;
    a.port = "/dev/ttyUSB0";
    a.file = "board.ppro";
    a.sha256 = std::string(64, 'a');
    a.version = "test";
    return a;
  }

  std::string folder_, where_;
};

TEST_P(StoreTest, ARowIsUnfinishedFromItsBeginAndCompleteAfterItsFinish) {
  auto store = Store::Open(where_);
  Attempt a = Board("s1");
  a.id = store->Begin(a);
  // A run killed now leaves this: the row, unfinished, found as such.
  std::vector<Attempt> rows = store->Find({.outcome = "unfinished"});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].stationName, "s1");
  EXPECT_FALSE(rows[0].seconds);
  EXPECT_EQ(rows[0].verified, "none");

  a.signature = "1E950F";
  a.loaderIds = "257,16973,512,2";
  a.portStableName = "/dev/serial/by-id/usb-FTDI_A1";
  a.adapterSerial = "A1";
  a.flashSha256 = std::string(64, 'b');
  a.eepromSha256 = std::string(64, 'c');
  a.outcome = "done";
  a.verified = "flash and EEPROM";
  a.pagesWritten = 3;
  a.pagesSkipped = 2;
  a.seconds = 1.25;
  store->Finish(a, true);
  rows = Store::Open(where_)->Find({});
  ASSERT_EQ(rows.size(), 1u);
  const Attempt& r = rows[0];
  EXPECT_EQ(r.outcome, "done");
  EXPECT_EQ(r.verified, "flash and EEPROM");
  EXPECT_EQ(r.seconds, 1.25);
  EXPECT_EQ(r.signature, "1E950F");
  EXPECT_EQ(r.loaderIds, "257,16973,512,2");
  EXPECT_EQ(r.adapterSerial, "A1");
  EXPECT_EQ(r.portStableName, "/dev/serial/by-id/usb-FTDI_A1");
  EXPECT_EQ(r.pagesWritten, 3);
  EXPECT_EQ(r.pagesSkipped, 2);
  EXPECT_EQ(r.eepromSha256, std::string(64, 'c'));
  EXPECT_EQ(r.version, "test");
  EXPECT_EQ(r.startedAt.size(), 24u);  // 2024-05-01T12:00:00.123Z
  EXPECT_TRUE(Store::Open(where_)->Find({.outcome = "unfinished"}).empty());
}

TEST_P(StoreTest, NumbersAreTakenInOrderAndEndUsedVoidOrTaken) {
  auto store = Store::Open(where_);
  store->EnsureSequence("line", 1000);
  const auto render = [](int64_t n) { return "BM-" + std::to_string(n); };
  std::vector<Attempt> boards;
  for (int i = 0; i < 3; ++i) {
    Attempt& a = boards.emplace_back(Board("s" + std::to_string(i)));
    a.id = store->Begin(a);
    EXPECT_EQ(store->TakeSerial("line", a.id, render), 1000 + i);
  }
  boards[0].outcome = "done";
  store->Finish(boards[0], true);
  boards[1].outcome = "failed";
  store->Finish(boards[1], false);
  // boards[2]'s run never ended.

  const std::vector<SerialNumber> numbers = Store::Open(where_)->Numbers("line");
  ASSERT_EQ(numbers.size(), 3u);
  EXPECT_EQ(numbers[0].state, "used");
  EXPECT_EQ(numbers[1].state, "void");
  EXPECT_EQ(numbers[2].state, "taken");
  EXPECT_EQ(numbers[2].attemptId, boards[2].id);

  // A void number is never given again: the next board gets the next one.
  Attempt next = Board("s3");
  next.id = store->Begin(next);
  EXPECT_EQ(store->TakeSerial("line", next.id, render), 1003);

  // Found by the serial as written and by its number.
  for (const std::string serial : {"BM-1001", "1001"}) {
    const std::vector<Attempt> rows = store->Find({.serial = serial});
    ASSERT_EQ(rows.size(), 1u) << serial;
    EXPECT_EQ(rows[0].outcome, "failed");
    EXPECT_EQ(rows[0].serialNumber, 1001);
    EXPECT_EQ(rows[0].sequence, "line");
  }
}

TEST_P(StoreTest, ASequenceStartsOnceAndOnlyWhereItWasStarted) {
  auto store = Store::Open(where_);
  EXPECT_THROW(store->EnsureSequence("line", std::nullopt), SequenceError);
  store->EnsureSequence("line", 5);
  store->EnsureSequence("line", 5);  // every station of a line may give the same start
  store->EnsureSequence("line", std::nullopt);
  try {
    store->EnsureSequence("line", 7);
    FAIL() << "a second start was taken";
  } catch (const SequenceError& e) {
    EXPECT_NE(std::string(e.what()).find("already started at 5"), std::string::npos) << e.what();
  }
}

// The stations of a line start at once, each naming the new sequence: while one's insert is not
// committed, another finds no sequence and inserts too. It must then take the one made (and
// refuse it when it names another start), not fail on the duplicate.
TEST(PostgresSequence, TwoStationsStartingOneNewSequenceAtOnce) {
  const std::string where = Server().Uri("race");
  Store::Open(where);
  const LibPqCalls& pq = LibPq();
  const char* keys[] = {"dbname", nullptr};
  const char* values[] = {where.c_str(), nullptr};
  PGconn* first = pq.connectdbParams(keys, values, 1);
  ASSERT_EQ(pq.status(first), CONNECTION_OK);
  const auto run = [&](PGconn* conn, const std::string& sql) {
    PGresult* r = pq.exec(conn, sql.c_str());
    const ExecStatusType status = pq.resultStatus(r);
    std::vector<std::string> values;
    for (int i = 0; i < pq.ntuples(r); ++i) values.push_back(pq.getvalue(r, i, 0));
    pq.clear(r);
    EXPECT_TRUE(status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) << pq.errorMessage(conn);
    return values;
  };
  for (const int64_t start : {5, 7}) {
    SCOPED_TRACE(start);
    const std::string name = "line" + std::to_string(start);
    run(first, "BEGIN");
    run(first, "INSERT INTO sequences VALUES ('" + name + "', 5, 5, '2024-01-01T00:00:00.000Z')");
    std::future<std::string> second = std::async(std::launch::async, [&] {
      try {
        Store::Open(where)->EnsureSequence(name, start);
        return std::string("taken");
      } catch (const RecordError& e) {
        return std::string(e.what());
      }
    });
    // The first commits once the second waits for its row (a statistics snapshot of its own each
    // time: within a transaction PostgreSQL would show the first one again).
    const auto waiting = [&] {
      return run(first,
                 "SELECT pg_stat_clear_snapshot(); SELECT count(*) FROM pg_stat_activity WHERE "
                 "wait_event_type = 'Lock' AND datname = current_database()") ==
             std::vector<std::string>{"1"};
    };
    bool waited = waiting();
    for (int i = 0; i < 6000 && !waited; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      waited = waiting();
    }
    run(first, "COMMIT");
    EXPECT_TRUE(waited) << "the second station never waited for the first's sequence";
    const std::string said = second.get();
    if (start == 5)
      EXPECT_EQ(said, "taken");
    else
      EXPECT_NE(said.find("already started at 5"), std::string::npos) << said;
  }
  pq.finish(first);
}

// Opening a current record, and checking a sequence it has, takes no write lock: the boards of a
// gang do not queue at their start behind the one that is writing.
TEST(RecordLocks, OpeningACurrentRecordWaitsForNoWriter) {
  char dir[] = "/tmp/bm-records-XXXXXX";
  const std::string folder = ::mkdtemp(dir), path = folder + "/record.db";
  Store::Open(path)->EnsureSequence("line", 1);
  sqlite3* writer = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  auto store = Store::Open(path);
  store->EnsureSequence("line", 1);
  EXPECT_TRUE(store->Find({}).empty());
  sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(writer);
  fs::remove_all(folder);
}

TEST_P(StoreTest, FindsByAnyHashByTimeAndByOutcome) {
  auto store = Store::Open(where_);
  const std::string file(64, '1'), flash(64, '2'), eeprom(64, '3'), other(64, '4');
  Attempt old = Board("old");
  old.startedAt = "2024-01-01T08:00:00.000Z";
  old.sha256 = other;
  old.id = store->Begin(old);
  old.outcome = "failed";
  store->Finish(old, false);
  Attempt recent = Board("recent");
  recent.startedAt = "2024-03-01T08:00:00.000Z";
  recent.sha256 = file;
  recent.id = store->Begin(recent);
  recent.flashSha256 = flash;
  recent.eepromSha256 = eeprom;
  recent.outcome = "done";
  store->Finish(recent, true);

  struct Case {
    Filter filter;
    std::vector<std::string> stations;
  };
  const std::vector<Case> cases = {
      {{.sha256 = file}, {"recent"}},
      {{.sha256 = flash}, {"recent"}},
      {{.sha256 = eeprom}, {"recent"}},
      {{.sha256 = std::string(64, '9')}, {}},
      {{.since = "2024-02-01"}, {"recent"}},
      {{.since = "2024-01-01T08:00"}, {"old", "recent"}},
      {{.since = "2024-03-01T08:00:00.001"}, {}},
      {{.outcome = "failed"}, {"old"}},
      {{.since = "2023-01-01", .outcome = "done"}, {"recent"}},
      {{.sha256 = other, .outcome = "done"}, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> stations;
    for (const Attempt& a : store->Find(c.filter)) stations.push_back(a.stationName);
    EXPECT_EQ(stations, c.stations) << c.filter.sha256.value_or("") << " " << c.filter.since.value_or("")
                                    << " " << c.filter.outcome.value_or("");
  }
}

TEST_P(StoreTest, ANewerRecordIsRefusedWithTheReason) {
  Store::Open(where_);
  if (GetParam() == Kind::Sqlite) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(where_.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE brindlemark_record SET version = 99", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  } else {
    // Through a record of this version: the version table is an ordinary table.
    ASSERT_EQ(
        std::system(
            ("psql -q '" + where_ + "' -c 'UPDATE brindlemark_record SET version = 99' >/dev/null").c_str()),
        0);
  }
  try {
    Store::Open(where_);
    FAIL() << "a newer record was opened";
  } catch (const RecordError& e) {
    EXPECT_NE(std::string(e.what()).find("version 99, made by a newer brindlemark-cli"), std::string::npos)
        << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, StoreTest, ::testing::Values(Kind::Sqlite, Kind::Postgres),
                         [](const auto& info) { return info.param == Kind::Sqlite ? "Sqlite" : "Postgres"; });

// A record of the first version (attempts only) is brought up to this one, its rows kept.
TEST(RecordSchema, AnOlderFileIsMigratedWithItsRows) {
  char dir[] = "/tmp/bm-records-XXXXXX";
  const std::string folder = ::mkdtemp(dir), path = folder + "/old.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  std::string first = kSchemaSteps[0];
  first.replace(first.find("{id}"), 4, "INTEGER PRIMARY KEY");
  const std::string setup = first +
                            "; CREATE TABLE brindlemark_record (version INTEGER NOT NULL);"
                            "INSERT INTO brindlemark_record VALUES (1);"
                            "INSERT INTO attempts (started_at, command, outcome, verified, station_name) "
                            "VALUES ('2023-01-01T00:00:00.000Z', 'download', 'done', 'flash', 'old');";
  ASSERT_EQ(sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);

  auto store = Store::Open(path);
  EXPECT_EQ(store->SchemaVersion(), kSchemaVersion);
  ASSERT_EQ(store->Find({}).size(), 1u);
  EXPECT_EQ(store->Find({})[0].stationName, "old");
  store->EnsureSequence("s", 1);
  Attempt a;
  a.command = "download";
  a.id = store->Begin(a);
  EXPECT_EQ(store->TakeSerial("s", a.id, [](int64_t n) { return std::to_string(n); }), 1);
  fs::remove_all(folder);
}

TEST(RecordSchema, ADatabaseOfOtherTablesOrAMissingFileIsRefused) {
  char dir[] = "/tmp/bm-records-XXXXXX";
  const std::string folder = ::mkdtemp(dir), path = folder + "/other.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE customers (name TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_THROW(Store::Open(path), RecordError);
  EXPECT_THROW(Store::Open(folder + "/missing.db", false), RecordError);
  EXPECT_FALSE(fs::exists(folder + "/missing.db"));
  std::ofstream(folder + "/text.db")
      << "not a database, just text that is long enough to be read as a header";
  EXPECT_THROW(Store::Open(folder + "/text.db"), RecordError);
  fs::remove_all(folder);
}

TEST(SerialLayout, FormatsAndAddresses) {
  struct Case {
    std::string given;
    int64_t number;
    std::vector<uint8_t> bytes;  // empty: refused
    int32_t address;
  };
  const std::vector<Case> cases = {
      {"BM-{:06d}@eeprom:16", 1042, {'B', 'M', '-', '0', '0', '1', '0', '4', '2', 0}, 16},
      {"{}@eeprom:0x10", 7, {'7', 0}, 16},
      {"u32le@eeprom:0", 0x01020304, {4, 3, 2, 1}, 0},
      {"u32be@eeprom:1023", 0x01020304, {1, 2, 3, 4}, 1023},
      {"SN{:x}@eeprom:2", 255, {'S', 'N', 'f', 'f', 0}, 2},
      // a text whose @ is its own: the last @eeprom: splits
      {"a@b{}@eeprom:4", 1, {'a', '@', 'b', '1', 0}, 4},
  };
  for (const Case& c : cases) {
    auto parsed = ParseSerialLayout(c.given);
    ASSERT_TRUE(std::holds_alternative<SerialLayout>(parsed))
        << c.given << ": " << std::get<std::string>(parsed);
    const SerialLayout& layout = std::get<SerialLayout>(parsed);
    EXPECT_EQ(layout.address, c.address) << c.given;
    EXPECT_EQ(std::get<std::vector<uint8_t>>(layout.Bytes(c.number)), c.bytes) << c.given;
  }
  for (const std::string bad : {"BM-{:06d}", "BM@eeprom:0", "{:s}@eeprom:0", "{} {}@eeprom:0", "{}@eeprom:-1",
                                "{}@eeprom:", "{}@eeprom:12x", "@eeprom:4", "\t{}@eeprom:0", "u32le@flash:0"})
    EXPECT_TRUE(std::holds_alternative<std::string>(ParseSerialLayout(bad))) << bad;
  // A binary layout refuses a number it cannot hold rather than cut it.
  const SerialLayout u32 = std::get<SerialLayout>(ParseSerialLayout("u32le@eeprom:0"));
  EXPECT_TRUE(std::holds_alternative<std::string>(u32.Bytes(0x100000000LL)));
  EXPECT_EQ(u32.Text(42), "42");
}

TEST(RecordTime, SinceTakesTheFormsOfADayAndATime) {
  EXPECT_EQ(NormalizedTime("2024-05-01"), "2024-05-01");
  EXPECT_EQ(NormalizedTime("2024-05-01 12:30"), "2024-05-01T12:30");
  EXPECT_EQ(NormalizedTime("2024-05-01T12:30:05Z"), "2024-05-01T12:30:05");
  EXPECT_EQ(NormalizedTime("2024-05-01T12:30:05.250"), "2024-05-01T12:30:05.250");
  for (const std::string bad :
       {"", "yesterday", "2024-5-1", "2024-13-01", "2024-05-01T1230", "2024-05-01T12:30:05+02"})
    EXPECT_FALSE(NormalizedTime(bad)) << bad;
  EXPECT_EQ(NowUtc().size(), 24u);
  EXPECT_TRUE(NormalizedTime(NowUtc()));
}

}  // namespace
}  // namespace bm::records
