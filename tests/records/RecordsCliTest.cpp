// brindlemark-cli with --record, --serial-number and `records`, end to end against the simulated
// target in the process (`--port sim`) and a SQLite record (the store's own tests run both
// databases).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "base/Sha256.h"
#include "e2e/CliProcess.h"
#include "records/RecordStore.h"

namespace bm::test {
namespace {

class RecordsCli : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/bm-records-cli-XXXXXX";
    folder_ = ::mkdtemp(dir);
    db_ = folder_ + "/record.db";
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::vector<std::string> Download(std::vector<std::string> extra) {
    std::vector<std::string> args{"download", kBlink, "--port", "sim", "--json", "--record", db_};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }
  std::vector<records::Attempt> Rows() { return records::Store::Open(db_, false)->Find({}); }
  std::vector<records::SerialNumber> Numbers() { return records::Store::Open(db_, false)->Numbers("line"); }

  std::string folder_, db_;
};

// The EEPROM the run wrote is the project's with the serial laid over it, the image grown to hold
// it; the row says what the result line says.
TEST_F(RecordsCli, TheSerialGoesIntoTheEepromImageAndTheRow) {
  ASSERT_EQ(RunCli({"load", kBlink, "--eeprom-out", folder_ + "/eeprom.bin"}).status, 0);
  const std::string loaded = ReadText(folder_ + "/eeprom.bin");
  ASSERT_EQ(loaded.size(), 8u);

  struct Case {
    std::string layout;
    std::string serial;  // boardSerial
    int32_t address;
    std::string bytes;  // laid over the image
  };
  const std::vector<Case> cases = {
      {"BM-{:06d}@eeprom:16", "BM-001042", 16, std::string("BM-001042") + '\0'},
      {"u32be@eeprom:2", "1043", 2, std::string("\x00\x00\x04\x13", 4)},
  };
  for (const Case& c : cases) {
    const CliResult r = RunCli(Download({"--verify", "--serial-number", c.layout, "--sequence", "line",
                                         "--sequence-start", "1042", "--station-name", "bench-1"}));
    ASSERT_EQ(r.status, 0) << r.err;
    const json result = JsonLines(r.out).back();
    std::string image = loaded;
    image.resize(std::max(image.size(), c.address + c.bytes.size()), '\xFF');
    image.replace(static_cast<size_t>(c.address), c.bytes.size(), c.bytes);
    EXPECT_EQ(result["boardSerial"], c.serial);
    EXPECT_EQ(result["eepromSha256"], Sha256Hex(image)) << c.layout;
    EXPECT_EQ(result["checked"], "flash and EEPROM");

    const records::Attempt row = Rows().back();
    EXPECT_EQ(row.id, result["recordId"].get<int64_t>());
    EXPECT_EQ(row.outcome, "done");
    EXPECT_EQ(row.verified, "flash and EEPROM");
    EXPECT_EQ(row.boardSerial, c.serial);
    EXPECT_EQ(row.stationName, "bench-1");
    EXPECT_EQ(row.port, "sim");
    EXPECT_EQ(row.signature, "1E950F");
    EXPECT_EQ(row.sha256, result["sha256"]);
    EXPECT_EQ(row.flashSha256, result["flashSha256"]);
    EXPECT_EQ(row.eepromSha256, result["eepromSha256"]);
    EXPECT_EQ(row.pagesWritten + row.pagesSkipped, 3);
    EXPECT_FALSE(row.host.empty());
    EXPECT_EQ(Numbers().back().state, "used");
  }
  EXPECT_EQ(SchemaErrors(RunCli(Download({})).out), "");
}

// Each mistake is a usage error before any number is taken (and before any port is touched).
TEST_F(RecordsCli, MistakesAreUsageErrorsBeforeANumberIsTaken) {
  ASSERT_EQ(
      RunCli(Download({"--serial-number", "{}@eeprom:0", "--sequence", "line", "--sequence-start", "1"}))
          .status,
      0);
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"--serial-number", "BM-{:06d}@eeprom:1020", "--sequence", "line"},
       "outside the project's EEPROM of 1024"},
      {{"--serial-number", "{}@eeprom:0", "--sequence", "line", "--no-eeprom"}, "cannot go with --no-eeprom"},
      {{"--serial-number", "{}@eeprom:0"}, "needs --sequence"},
      {{"--serial-number", "{:s}@eeprom:0", "--sequence", "line"}, "is not a format for a number"},
      {{"--serial-number", "{}@eeprom:0", "--sequence", "line", "--sequence-start", "7"},
       "already started at 1"},
      {{"--serial-number", "{}@eeprom:0", "--sequence", "other"}, "does not exist yet"},
      {{"--sequence", "line"}, "goes with --serial-number"},
  };
  for (const Case& c : cases) {
    const CliResult r = RunCli(Download(c.args));
    EXPECT_EQ(r.status, 2) << c.says << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("\"event\":\"port\""), std::string::npos) << c.says << ": a port was touched";
  }
  const CliResult gang = RunCli({"gang", kBlink, "--port", "sim", "--record", db_, "--serial-number",
                                 "u32le@eeprom:1022", "--sequence", "line"});
  // gang does not read the file: its board's child refuses, before taking a number.
  EXPECT_EQ(gang.status, 8) << gang.err;
  EXPECT_NE(gang.err.find("\"outcome\":\"usage\""), std::string::npos) << gang.err;
  // Without --record the option has no sequence to take from.
  EXPECT_EQ(RunCli({"download", kBlink, "--port", "sim", "--serial-number", "{}@eeprom:0", "--sequence", "l"})
                .status,
            2);
  EXPECT_EQ(Numbers().size(), 1u);
  EXPECT_EQ(Rows().size(), 1u);
}

// A run that takes a number and then fails, or is stopped, voids it; the row says how it ended.
TEST_F(RecordsCli, ANumberOfARunThatFailsOrStopsIsVoid) {
  // A flash image beyond the simulated chip's 28 KiB flash, and no EEPROM image: the number is
  // taken once the chip is known, then the image does not fit.
  const std::string big = folder_ + "/big.hex";
  std::ofstream(big) << ":107F0000000102030405060708090A0B0C0D0E0F F9\n:00000001FF\n";
  std::string text = ReadText(big);
  text.erase(text.find(' '), 1);
  std::ofstream(big, std::ios::trunc) << text;
  const CliResult r = RunCli({"download", big, "--port", "sim", "--json", "--record", db_, "--serial-number",
                              "{}@eeprom:0", "--sequence", "line", "--sequence-start", "5"});
  EXPECT_EQ(r.status, 7) << r.err;
  ASSERT_EQ(Numbers().size(), 1u);
  EXPECT_EQ(Numbers()[0].state, "void");
  EXPECT_EQ(Rows().back().outcome, "does-not-fit");

  Child child(Download({"--serial-number", "{}@eeprom:0", "--sequence", "line"}));
  for (std::string line; (line = child.Line()).find("\"phase\"") == std::string::npos;)
    ASSERT_FALSE(line.empty()) << child.Stderr();
  ::kill(child.pid, SIGTERM);
  EXPECT_EQ(child.Wait(), 130) << child.Stderr();
  ASSERT_EQ(Numbers().size(), 2u);
  EXPECT_EQ(Numbers()[1].number, 6);
  EXPECT_EQ(Numbers()[1].state, "void");
  EXPECT_EQ(Rows().back().outcome, "stopped");
  EXPECT_EQ(Rows().back().boardSerial, "6");
}

// gang passes the record on to its board's child and records nothing itself, also when the
// record comes from the environment that the child inherits; erase is recorded too.
TEST_F(RecordsCli, OneRowPerBoardWhoeverAsks) {
  ::setenv("BRINDLEMARK_RECORD", db_.c_str(), 1);
  const CliResult gang = RunCli({"gang", kBlink, "--port", "sim", "--station-name", "g"});
  const CliResult erase = RunCli({"erase", kBlink, "--port", "sim"});
  ::unsetenv("BRINDLEMARK_RECORD");
  ASSERT_EQ(gang.status, 0) << gang.err;
  ASSERT_EQ(erase.status, 0) << erase.err;
  const std::vector<records::Attempt> rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].command, "download");
  EXPECT_EQ(rows[0].stationName, "g");
  EXPECT_EQ(rows[1].command, "erase");
  EXPECT_EQ(rows[1].outcome, "done");
  // A run that finds no board is an attempt too.
  const CliResult missing =
      RunCli({"download", kBlink, "--port", folder_ + "/no-such-port", "--record", db_});
  EXPECT_EQ(missing.status, 3);
  EXPECT_EQ(Rows().back().outcome, "not-found");
}

TEST_F(RecordsCli, RecordsShowsTableJsonAndCsv) {
  ASSERT_EQ(RunCli(Download({"--station-name", "a \"quoted\", name"})).status, 0);
  ASSERT_EQ(RunCli(Download({"--no-flash"})).status, 0);

  const CliResult csv = RunCli({"records", db_, "--csv"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out.rfind("id,startedAt,seconds,command,host,stationName,", 0), 0u) << csv.out;
  EXPECT_NE(csv.out.find(",\"a \"\"quoted\"\", name\","), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find("\"257,16973,512,2\""), std::string::npos) << csv.out;

  const CliResult lines = RunCli({"records", db_, "--json", "--since", "2000-01-01", "--outcome", "done"});
  ASSERT_EQ(lines.status, 0) << lines.err;
  EXPECT_EQ(SchemaErrors(lines.out), "");
  const std::vector<json> events = JsonLines(lines.out);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0]["event"], "record");
  EXPECT_EQ(events.back()["records"], 2);
  const std::string flash = events[0]["flashSha256"];
  EXPECT_EQ(JsonLines(RunCli({"records", db_, "--json", "--sha256", flash}).out).size(), 2u);

  const CliResult table = RunCli({"records", db_, "--outcome", "unfinished"});
  EXPECT_EQ(table.status, 0);
  EXPECT_NE(table.err.find("records: 0 attempts"), std::string::npos) << table.err;

  EXPECT_EQ(RunCli({"records", db_, "--since", "last week"}).status, 2);
  EXPECT_EQ(RunCli({"records", db_, "--outcome", "fine"}).status, 2);
  EXPECT_EQ(RunCli({"records", db_, "--csv", "--json"}).status, 2);
  const CliResult missing = RunCli({"records", folder_ + "/missing.db"});
  EXPECT_EQ(missing.status, 11);
  EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(folder_ + "/missing.db"));
}

}  // namespace
}  // namespace bm::test
