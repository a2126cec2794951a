// brindlemark-cli's command line as scripts use it: help texts, option order, usage errors, the
// JSON lines of a run, Ctrl-C in the middle of a run, and gang over several pseudo-terminal
// targets.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/CliProcess.h"
#include "support/TargetSimProcess.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

using namespace test;

TEST(CliHelp, EveryOptionAndExitCodeIsDescribed) {
  const std::vector<std::string> global{"--port", "--simulated-target", "--json", "--help"};
  const std::vector<std::string> codes{"0 ", "1 ", "2 ", "3 ", "4 ", "5 ", "6 ", "7 ", "8 ", "9 ", "130 "};
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> options;
  } cases[] = {
      {{"--help"}, {"ports",       "load",         "download",    "erase",      "gang",        "--probe",
                    "--flash-out", "--eeprom-out", "--baud",      "--no-flash", "--no-eeprom", "--stop",
                    "--force",     "--trace",      "--all-ports", "--timeout",  "--log-dir",   "--version",
                    ".hex",        ".eep",         ".ppro",       ".pac"}},
      {{"help", "download"},
       {"--baud", "--no-flash", "--no-eeprom", "--stop", "--force", "--trace", ".ppro"}},
      {{"download", "--help"},
       {"--baud", "--no-flash", "--no-eeprom", "--stop", "--force", "--trace", "--verify",
        "--wait-after-open", "--reply-timeout"}},
      {{"erase", "-h"}, {"--baud", "--stop", "--force", "--trace"}},
      {{"help", "gang"},
       {"--all-ports", "--timeout", "--log-dir", "--baud", "--no-flash", "--stop", "--force"}},
      {{"ports", "--help"}, {"--probe", "--reply-timeout"}},
      {{"help", "load"}, {"--flash-out", "--eeprom-out"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front() + (c.args.size() > 1 ? " " + c.args[1] : ""));
    const CliResult r = RunCli(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& o : c.options) EXPECT_NE(r.out.find(o), std::string::npos) << o << "\n" << r.out;
    for (const std::string& o : global) EXPECT_NE(r.out.find(o), std::string::npos) << o;
    for (const std::string& code : codes) EXPECT_NE(r.out.find("\n  " + code), std::string::npos) << code;
  }
}

TEST(CliUsage, GlobalOptionsGoBeforeOrAfterTheCommandAndMistakesGetOneLine) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--json", "--port", "sim", "download", kBlink},
           {"download", kBlink, "--port=sim", "--json"},
           {"--port", "sim", "download", "--json", kBlink, "--stop"},
           {"-Psim", "download", kBlink, "--json", "-qvb115200"},  // avrdude's joined short forms
       }) {
    const CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    const auto lines = JsonLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front()["event"], "start");
    EXPECT_EQ(lines.back()["outcome"], "done");
  }
  const struct {
    std::vector<std::string> args;
    std::string line;
  } mistakes[] = {
      {{"download", kBlink, "--bogus"}, "brindlemark-cli download: Unknown option 'bogus'."},
      {{"download", kBlink, "--baud", "fast"},
       "brindlemark-cli download: --baud needs a rate in baud, not 'fast'"},
      {{"download"}, "brindlemark-cli download: FILE is missing"},
      {{"erase", kBlink, "other.hex"}, "brindlemark-cli erase: unexpected argument 'other.hex'"},
      {{"gang", kBlink},
       "brindlemark-cli gang: name the boards' ports with --port DEVICE (repeatable) or use --all-ports"},
      {{"gang", kBlink, "--all-ports", "--timeout", "0"},
       "brindlemark-cli gang: --timeout needs a positive number"},
      {{"flash", kBlink}, "brindlemark-cli: unknown command 'flash'"},
      {{"load", kBlink, "--stop"}, "brindlemark-cli load: Unknown option 'stop'."},
      // Without a command: the problem itself, not the whole help.
      {{}, "brindlemark-cli: a COMMAND is missing"},
      {{"--bogus"}, "brindlemark-cli: Unknown option 'bogus'."},
      {{"-V"}, "brindlemark-cli: Unknown option 'V'."},
      {{"--port"}, "brindlemark-cli: --port needs a value"},
      // An option's value is never the next option.
      {{"download", "--port", "--stop", kBlink}, "brindlemark-cli download: --port needs a value"},
      {{"download", kBlink, "-P"}, "brindlemark-cli download: -P needs a value"},
      {{"download", kBlink, "-b", "3"}, "brindlemark-cli download: --baud 3 is not a usable rate"},
      // avrdude's command line: ours for the same job.
      {{"-p", "m328p", "-c", "arduino", "-P", "sim", "-U", "flash:w:" + kBlink + ":i"},
       "brindlemark-cli: avrdude's -p, -c and -U are not needed here (the loader names the chip); the same "
       "job: brindlemark-cli download " +
           kBlink + " -P sim\n"},
  };
  for (const auto& m : mistakes) {
    const CliResult r = RunCli(m.args);
    EXPECT_EQ(r.status, 2) << m.line;
    EXPECT_EQ(r.err.rfind(m.line, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
    EXPECT_TRUE(r.out.empty());
  }
}

// --version wherever it stands, with or without --json, prints the version.
TEST(CliUsage, VersionAnywherePrintsTheVersion) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--version"},
                                                                {"--json", "--version"},
                                                                {"download", "--version"},
                                                                {"download", kBlink, "--version"}}) {
    const CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("brindlemark-cli ", 0), 0u) << r.out;
  }
}

// A pipe, a device, a folder or a missing file as FILE: one line that says which, exit 1, at
// once (a pipe used to block for ever and /dev/zero to spin).
TEST(CliFiles, WhatIsNotARegularFileIsNamedAndRefusedAtOnce) {
  char dir[] = "/tmp/bm-files-XXXXXX";
  const std::string scratch = ::mkdtemp(dir);
  const std::string fifo = scratch + "/f.hex";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string file;
    const char* why;
  } cases[] = {
      {fifo, "is not a regular file (a pipe, a device or a socket)"},
      {"/dev/zero", "is not a regular file (a pipe, a device or a socket)"},
      {scratch, "is a directory"},
      {scratch + "/nope.hex", "no such file"},
      {"-", "no such file"},
  };
  for (const auto& c : cases) {
    for (const char* command : {"download", "load"}) {
      SCOPED_TRACE(std::string(command) + " " + c.file);
      const auto start = std::chrono::steady_clock::now();
      const CliResult r = RunCli({command, c.file, "--port", "sim"});
      // Opening the pipe would wait for a writer for ever: ten seconds is that, not a slow machine.
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find(std::string(command) + ": cannot load '" + c.file + "': " + c.why),
                std::string::npos)
          << r.err;
    }
  }
  fs::remove_all(scratch);
}

// The result names the images written by their hashes: one data byte changed in a project's .hex
// changes flashSha256 (the project text, and so sha256, stays the same); a phase not run is null.
TEST(CliJson, TheResultHashesTheImagesWritten) {
  char dir[] = "/tmp/bm-hash-XXXXXX";
  const fs::path scratch = ::mkdtemp(dir);
  for (const char* ext : {".ppro", ".hex", ".eep"})
    fs::copy_file(std::string(BM_SOURCE_DIR) + "/examples/blink/blink" + ext,
                  scratch / (std::string("blink") + ext));
  const std::string project = (scratch / "blink.ppro").string();
  auto result = [&project](std::vector<std::string> extra) {
    std::vector<std::string> args{"download", project, "--port", "sim", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    const CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return JsonLines(r.out).back();
  };
  const json before = result({});
  ASSERT_TRUE(before["flashSha256"].is_string());
  EXPECT_EQ(before["flashSha256"].get<std::string>().size(), 64u);
  EXPECT_TRUE(before["eepromSha256"].is_string());
  // The first data byte of the first record: its value and its checksum change together.
  std::string hex = ReadText((scratch / "blink.hex").string());
  const size_t data = hex.find(':') + 9;
  const int value = std::stoi(hex.substr(data, 2), nullptr, 16);
  const int checksumAt = static_cast<int>(hex.find('\n')) - 2 - (hex[hex.find('\n') - 1] == '\r' ? 1 : 0);
  const int checksum = std::stoi(hex.substr(static_cast<size_t>(checksumAt), 2), nullptr, 16);
  char two[3];
  std::snprintf(two, sizeof two, "%02X", (value + 1) & 0xFF);
  hex.replace(data, 2, two);
  std::snprintf(two, sizeof two, "%02X", (checksum - 1) & 0xFF);
  hex.replace(static_cast<size_t>(checksumAt), 2, two);
  std::ofstream(scratch / "blink.hex", std::ios::binary) << hex;
  const json after = result({});
  EXPECT_EQ(after["sha256"], before["sha256"]) << "the project text is the same";
  EXPECT_NE(after["flashSha256"], before["flashSha256"]);
  EXPECT_EQ(after["eepromSha256"], before["eepromSha256"]);
  const json eepromOnly = result({"--no-flash"});
  EXPECT_TRUE(eepromOnly["flashSha256"].is_null());
  EXPECT_EQ(eepromOnly["eepromSha256"], before["eepromSha256"]);
  fs::remove_all(scratch);
}

// A run ends with a line that says what was written and in how long; -q leaves only errors.
TEST(CliRun, AClosingLineSaysWhatWasWrittenAndQuietLeavesOnlyErrors) {
  const CliResult r = RunCli({"download", kBlink, "--port", "sim"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("written: flash 384 bytes (sha256 "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("), EEPROM 8 bytes (sha256 "), std::string::npos) << r.err;
  const CliResult quiet = RunCli({"download", kBlink, "-P", "sim", "-q"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  const CliResult missing = RunCli({"download", "nope.hex", "-P", "sim", "-q"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot load 'nope.hex'"), std::string::npos) << "errors still show";
}

// BRINDLEMARK_BAUD replaces only the built-in rate: a project's BaudRate beats it, a .hex takes it.
TEST(CliRun, TheEnvironmentsRateGivesWayToTheProjects) {
  ::setenv("BRINDLEMARK_BAUD", "19200", 1);
  const CliResult project = RunCli({"download", kBlink, "--port", "sim", "--json"});
  const CliResult plain = RunCli(
      {"download", std::string(BM_SOURCE_DIR) + "/examples/blink/blink.hex", "--port", "sim", "--json"});
  ::unsetenv("BRINDLEMARK_BAUD");
  EXPECT_EQ(JsonLines(project.out).front()["baud"], 57600);
  EXPECT_EQ(JsonLines(plain.out).front()["baud"], 19200);
  EXPECT_EQ(plain.status, 0) << plain.err;
}

// A slow link, every reply 200 ms late: the documented 50 ms window finds no loader there;
// --reply-timeout 500 reaches it and writes, and the start line says which window the run used.
TEST(CliRun, ASlowLinkIsReachedWithAWiderReplyWindow) {
  std::vector<std::string> late;
  for (const char letter : std::string("?IiAEDP"))
    late.insert(late.end(), {"--fault", std::string(1, letter) + ":0:late:200"});
  test::TargetSimProcess sim(late);
  ASSERT_TRUE(sim.Started());
  ::unsetenv("BRINDLEMARK_REPLY_TIMEOUT");  // the documented window
  const CliResult fast = RunCli({"download", kBlink, "--port", sim.Device(), "--no-eeprom", "--json"});
  EXPECT_EQ(fast.status, 3) << fast.err;
  EXPECT_EQ(JsonLines(fast.out).front()["replyTimeoutMs"], 50);
  const CliResult slow =
      RunCli({"download", kBlink, "--port", sim.Device(), "--no-eeprom", "--json", "--reply-timeout", "500"});
  EXPECT_EQ(slow.status, 0) << slow.err;
  EXPECT_EQ(JsonLines(slow.out).front()["replyTimeoutMs"], 500);
}

// The command line and the simulated target run where no GUI toolkit is installed: neither names
// a Qt library among the ones it needs.
TEST(CliProgram, LinksNoQt) {
  for (const std::string program : {BM_CLI_PATH, BM_TARGET_SIM_PATH}) {
    SCOPED_TRACE(program);
    char dir[] = "/tmp/bm-cli-XXXXXX";
    const std::string scratch = ::mkdtemp(dir);
    ASSERT_EQ(std::system(("readelf -d '" + program + "' > '" + scratch + "/dyn'").c_str()), 0);
    const std::string dynamic = ReadText(scratch + "/dyn");
    fs::remove_all(scratch);
    EXPECT_EQ(dynamic.find("libQt"), std::string::npos) << dynamic;
    EXPECT_NE(dynamic.find("libstdc++"), std::string::npos) << "dynamically linked\n" << dynamic;
  }
}

// A file name is the bytes the shell passed: one that is not valid UTF-8 loads and downloads,
// project images beside it included.
TEST(CliFileNames, ANameThatIsNotUtf8LoadsAndDownloads) {
  char dir[] = "/tmp/bm-cli-XXXXXX";
  const std::string scratch = ::mkdtemp(dir);
  const std::string stem = scratch + "/bl\xE9nk\xFF";  // Latin-1 bytes, invalid as UTF-8
  for (const char* ext : {".ppro", ".hex", ".eep"})
    fs::copy_file(std::string(BM_SOURCE_DIR) + "/examples/blink/blink" + ext, stem + ext);

  const CliResult load = RunCli({"load", stem + ".ppro", "--json"});
  EXPECT_EQ(load.status, 0) << load.err;
  const json report = json::parse(load.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << load.out;
  EXPECT_GT(report["flashBytes"].get<int>(), 0);
  EXPECT_GT(report["eepromBytes"].get<int>(), 0) << "the .eep beside it was found by its bytes";

  const CliResult run = RunCli({"download", stem + ".ppro", "--port", "sim"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("download: done"), std::string::npos) << run.err;
  fs::remove_all(scratch);
}

// The documented order of a run's lines; every line has "event" and "t" first.
TEST(CliJson, TheLinesOfARunFollowTheDocumentedOrderAndFields) {
  const struct {
    std::vector<std::string> sim;
    std::vector<std::string> events;
    const char* outcome;
    int status;
    const char* why;
  } cases[] = {
      {{},
       {"start", "port", "identified", "phase", "progress", "phase", "progress", "message", "result"},
       "done",
       0,
       "a download"},
      {{"--signature", "1E9587"},
       {"start", "port", "message", "identified", "result"},
       "refused",
       4,
       "another chip: named after the refusal's box"},
      {{"--flash-words", "128"},
       {"start", "port", "identified", "message", "result"},
       "does-not-fit",
       7,
       "an image larger than the flash"},
      {{"--fault", "D:2:vanish"},
       {"start", "port", "identified", "phase", "progress", "message", "result"},
       "port-lost",
       5,
       "the adapter unplugged during a page"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    test::TargetSimProcess sim(c.sim);
    ASSERT_TRUE(sim.Started()) << sim.StderrText();
    const CliResult r = RunCli({"download", kBlink, "--port", sim.Device(), "--json"});
    EXPECT_EQ(r.status, c.status) << r.err;
    const auto lines = JsonLines(r.out);
    EXPECT_EQ(Events(lines), c.events) << r.out;
    double t = 0;
    for (const json& l : lines) {
      ASSERT_TRUE(l.is_object());
      auto it = l.begin();
      EXPECT_EQ(it.key(), "event");
      EXPECT_EQ((++it).key(), "t");
      EXPECT_GE(l["t"].get<double>(), t) << "time only goes forward";
      t = l["t"].get<double>();
    }
    const json& start = lines.front();
    for (const char* key : {"version", "command", "file", "sha256", "flashBytes", "eepromBytes", "baud"})
      EXPECT_TRUE(start.contains(key)) << key;
    EXPECT_EQ(start["sha256"].get<std::string>().size(), 64u);
    const json& result = lines.back();
    EXPECT_EQ(result["outcome"], c.outcome);
    EXPECT_EQ(result["exitCode"], c.status);
    for (const char* key : {"failures", "seconds", "sha256", "flashSha256", "eepromSha256"})
      EXPECT_TRUE(result.contains(key)) << key;
    const bool refused = c.outcome == std::string("refused");
    for (const json& l : lines) {
      if (l["event"] == "identified") {
        EXPECT_EQ(l["signature"], refused ? "1E9587" : "1E950F");
        EXPECT_EQ(l["pageBytes"], 128);
        EXPECT_EQ(l["loaderIds"], refused ? json(nullptr) : json::array({257, 0x424D, 0x0200, 2}));
        EXPECT_EQ(l["accepted"], !refused);
      }
      if (l["event"] == "progress") {
        for (const char* key : {"phase", "percent", "bytes", "totalBytes", "bytesPerSecond", "secondsLeft"})
          EXPECT_TRUE(l.contains(key)) << key;
        EXPECT_LE(l["percent"].get<int>(), 100);
      }
    }
  }
}

// The JSON lines of real runs, one of each outcome, match the schema in docs/ (required fields,
// no unknown ones); a line with a field missing or one too many does not.
TEST(CliJson, RealRunsOfEveryOutcomeMatchTheSchema) {
  char dir[] = "/tmp/bm-outcomes-XXXXXX";
  const fs::path scratch = ::mkdtemp(dir);
  std::ofstream(scratch / "bad.hex") << ":10000000ZZ\n";
  const std::string eep = std::string(BM_SOURCE_DIR) + "/examples/blink/blink.eep";
  const struct {
    std::vector<std::string> sim;  // empty: the in-process target "sim"
    std::vector<std::string> args;
    const char* outcome;
  } cases[] = {
      {{}, {"download", kBlink}, "done"},
      {{}, {"erase", kBlink}, "done"},
      {{}, {"download", (scratch / "bad.hex").string()}, "load-failed"},
      {{}, {"erase", eep}, "nothing-to-write"},
      {{}, {"download", kBlink, "--baud", "3"}, "usage"},
      {{"--baud", "19200"}, {"download", kBlink}, "not-found"},
      {{"--signature", "1E9587"}, {"download", kBlink}, "refused"},
      {{"--fault", "D:1:noreply"}, {"download", kBlink}, "failed"},
      {{"--fault", "D:2:vanish"}, {"download", kBlink}, "port-lost"},
      {{"--fault", "?:2:noreply"}, {"download", kBlink}, "no-answer"},
      {{"--flash-words", "128"}, {"download", kBlink}, "does-not-fit"},
      {{"--fault", "P:2:corrupt"}, {"download", kBlink, "--verify"}, "verify-failed"},
      {{}, {"download", std::string(BM_SOURCE_DIR) + "/examples/blink/blink.hex", "--verify"}, "done"},
  };
  std::string all;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.outcome);
    std::unique_ptr<test::TargetSimProcess> sim;
    std::vector<std::string> args = c.args;
    if (c.sim.empty()) {
      args.insert(args.end(), {"--port", "sim"});
    } else {
      sim = std::make_unique<test::TargetSimProcess>(c.sim);
      ASSERT_TRUE(sim->Started());
      args.insert(args.end(), {"--port", sim->Device()});
    }
    args.push_back("--json");
    const CliResult r = RunCli(args);
    const auto lines = JsonLines(r.out);
    ASSERT_FALSE(lines.empty()) << r.err;
    EXPECT_EQ(lines.back()["outcome"], c.outcome) << r.out;
    all += r.out;
  }
  // gang: boards-failed, with its boards; ports.
  test::TargetSimProcess good, faulty({"--fault", "D:0:noreply"});
  all += RunCli({"--json", "gang", kBlink, "--port", good.Device(), "--port", faulty.Device()}).out;
  all += RunCli({"ports", "--json", "--port", good.Device()}).out;
  EXPECT_EQ(SchemaErrors(all), "");

  json result = JsonLines(RunCli({"download", kBlink, "--port", "sim", "--json"}).out).back();
  json missing = result;
  missing.erase("flashSha256");
  json unknown = result;
  unknown["verified"] = "maybe";
  EXPECT_NE(SchemaErrors(missing.dump() + "\n"), "") << "a required field is missing";
  EXPECT_NE(SchemaErrors(unknown.dump() + "\n"), "") << "an unknown field";
  fs::remove_all(scratch);
}

// Ctrl-C in the middle of a page: the run ends at its next wait and the port closes without
// "X", so the loader still listens for a second try.
TEST(CliSignals, CtrlCEndsTheRunAsQuittingDoes) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
    test::TargetSimProcess sim({"--paced", "--exit-after-stop"});
    ASSERT_TRUE(sim.Started()) << sim.StderrText();
    Child cli({"download", kBlink, "--port", sim.Device(), "--baud", "9600", "--json", "--stop"});
    std::vector<json> lines;
    std::string text;
    for (std::string line = cli.Line(); !line.empty(); line = cli.Line()) {
      text += line;
      lines.push_back(json::parse(line));
      if (lines.back()["event"] == "phase") ::kill(cli.pid, signal);
    }
    EXPECT_EQ(cli.Wait(), 130);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["event"], "result");
    EXPECT_EQ(lines.back()["outcome"], "stopped");
    EXPECT_EQ(SchemaErrors(text), "");
    EXPECT_NE(cli.Stderr().find("interrupted: the flash is partly written"), std::string::npos)
        << cli.Stderr();
    EXPECT_TRUE(sim.Running()) << "no \"X\": the loader did not leave";
    // And it listens: a second try succeeds.
    const CliResult again = RunCli({"download", kBlink, "--port", sim.Device()});
    EXPECT_EQ(again.status, 0) << again.err;
  }
}

TEST(CliGang, TheOtherBoardsSucceedAndTheSummarySaysWhichFailed) {
  test::TargetSimProcess good, faulty({"--fault", "D:0:noreply"}), silent({"--baud", "19200"});
  ASSERT_TRUE(good.Started() && faulty.Started() && silent.Started());
  char dir[] = "/tmp/bm-gang-XXXXXX";
  const std::string logs = ::mkdtemp(dir);
  const CliResult r = RunCli({"gang", kBlink, "--port", good.Device(), "--port", faulty.Device(), "--port",
                              silent.Device(), "--log-dir", logs, "--timeout", "30"});
  EXPECT_EQ(r.status, 8) << r.out << r.err;
  auto row = [&r](const std::string& port) {
    const size_t at = r.out.find(port + " ");
    return at == std::string::npos ? std::string() : r.out.substr(at, r.out.find('\n', at) - at);
  };
  EXPECT_NE(row(good.Device()).find(" done "), std::string::npos) << r.out;
  EXPECT_NE(row(good.Device()).find("1E950F"), std::string::npos) << r.out;
  EXPECT_NE(row(faulty.Device()).find(" failed "), std::string::npos) << r.out;
  EXPECT_NE(row(faulty.Device()).find(" 5 "), std::string::npos) << r.out;
  EXPECT_NE(row(silent.Device()).find(" not-found "), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("2 of 3 boards failed"), std::string::npos) << r.err;
  const std::string log = ReadText(logs + "/" + good.Device().substr(5).replace(3, 1, "_") + ".log");
  EXPECT_NE(log.find("> 3F"), std::string::npos) << "the byte trace is kept";
  fs::remove_all(logs);

  // --all-ports: a listed port without a loader is passed by; one named with --port is a board
  // that failed. One device under two names gets one child.
  const std::string link = logs + "-link";
  fs::create_symlink(good.Device(), link);
  const CliResult all = RunCli(
      {"gang", kBlink, "--all-ports", "--port", good.Device(), "--port", link, "--port", silent.Device()});
  fs::remove(link);
  EXPECT_EQ(all.status, 8) << all.out << all.err;
  const size_t at = all.out.find(silent.Device() + " ");
  ASSERT_NE(at, std::string::npos) << all.out;
  EXPECT_NE(all.out.substr(at, all.out.find('\n', at) - at).find(" not-found "), std::string::npos)
      << all.out;
  EXPECT_EQ(all.out.find(link), std::string::npos) << "the link is the same board: " << all.out;

  // JSON: every line names its board; the result lists them all. The person at the terminal still
  // sees each board's lines and the summary on stderr.
  const CliResult j = RunCli({"--json", "gang", kBlink, "--port", good.Device(), "--port", faulty.Device()});
  EXPECT_EQ(j.status, 8);
  EXPECT_NE(j.err.find(good.Device() + ": phase"), std::string::npos) << j.err;
  EXPECT_NE(j.err.find("port                     signature"), std::string::npos) << j.err;
  const auto lines = JsonLines(j.out);
  ASSERT_FALSE(lines.empty());
  for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_TRUE(lines[i].contains("port")) << lines[i];
  EXPECT_EQ(lines.back()["event"], "result");
  EXPECT_EQ(lines.back()["exitCode"], 8);
  ASSERT_EQ(lines.back()["boards"].size(), 2u);
  EXPECT_EQ(lines.back()["boards"][1]["exitCode"], 5);
  EXPECT_EQ(lines.back()["outcome"], "boards-failed");

  // --all-ports with no board answering anywhere: the target was not found, not done.
  const CliResult none = RunCli({"--json", "gang", kBlink, "--all-ports"});
  EXPECT_EQ(none.status, 3) << none.out << none.err;
  const auto noneLines = JsonLines(none.out);
  ASSERT_FALSE(noneLines.empty());
  EXPECT_EQ(noneLines.back()["outcome"], "not-found");
}

// The station flashes each board whose link appears in the watched folder, once per appearance;
// a failing board is reported; Ctrl-C ends it with the summary, exit 8 when a board failed.
TEST(CliStation, FlashesEachBoardOncePerAppearance) {
  char dir[] = "/tmp/bm-station-XXXXXX";
  const fs::path scratch = ::mkdtemp(dir);
  const fs::path watch = scratch / "by-id";  // made only once the first board is there
  test::TargetSimProcess good, bad({"--fault", "D:1:noreply"});
  ASSERT_TRUE(good.Started() && bad.Started());
  Child station({"station", kBlink, "--watch", watch.string(), "--settle", "0", "--json"});
  std::vector<json> lines;
  auto until = [&](const std::function<bool(const json&)>& done) {
    for (std::string line = station.Line(); !line.empty(); line = station.Line()) {
      lines.push_back(json::parse(line));
      if (done(lines.back())) return true;
    }
    return false;
  };
  auto resultOf = [](const std::string& port) {
    return [port](const json& l) { return l["event"] == "result" && l.value("port", "") == port; };
  };
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  fs::create_directories(watch);
  fs::create_symlink(good.Device(), watch / "good");
  ASSERT_TRUE(until(resultOf((watch / "good").string())));
  EXPECT_EQ(lines.back()["outcome"], "done");
  fs::create_symlink(bad.Device(), watch / "bad");
  ASSERT_TRUE(until(resultOf((watch / "bad").string())));
  EXPECT_EQ(lines.back()["outcome"], "failed");
  // Unplugged and plugged in again: flashed again; the board that stayed is not.
  fs::remove(watch / "good");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  fs::create_symlink(good.Device(), watch / "good");
  ASSERT_TRUE(until(resultOf((watch / "good").string())));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(station.pid, SIGINT);
  until([](const json&) { return false; });
  EXPECT_EQ(station.Wait(), 8) << station.Stderr();
  ASSERT_FALSE(lines.empty());
  const json& result = lines.back();
  EXPECT_EQ(result["event"], "result");
  EXPECT_EQ(result["boards"].size(), 3u) << result.dump();
  // Each board's row names the chip its child identified; each start line names the file the
  // user gave, not the station's private copy of it.
  for (const json& board : result["boards"]) EXPECT_EQ(board["signature"], "1E950F") << board.dump();
  int appeared = 0, started = 0;
  std::string all;
  for (const json& l : lines) {
    appeared += l["event"] == "appeared";
    if (l["event"] == "start") {
      ++started;
      EXPECT_EQ(l["file"], kBlink);
    }
    all += l.dump() + "\n";
  }
  EXPECT_EQ(appeared, 3);
  EXPECT_EQ(started, 3);
  EXPECT_NE(station.Stderr().find("station: 2 passed, 1 failed"), std::string::npos) << station.Stderr();
  EXPECT_EQ(SchemaErrors(all), "");
  fs::remove_all(scratch);
}

// A port named with --port is a board the user expects: no loader there is a failure, where a
// port that merely appeared without one is passed by.
TEST(CliStation, ANamedPortWithoutALoaderFails) {
  test::TargetSimProcess silent({"--baud", "19200"});
  ASSERT_TRUE(silent.Started());
  const CliResult r =
      RunCli({"station", kBlink, "--port", silent.Device(), "--settle", "0", "--max-boards", "1", "--json"});
  EXPECT_EQ(r.status, 8) << r.err;
  const auto lines = JsonLines(r.out);
  ASSERT_FALSE(lines.empty());
  ASSERT_EQ(lines.back()["boards"].size(), 1u) << lines.back().dump();
  EXPECT_EQ(lines.back()["boards"][0]["outcome"], "not-found");
  EXPECT_NE(r.err.find("station: 0 passed, 1 failed"), std::string::npos) << r.err;
}

// Ctrl-C on the terminal reaches the station's whole process group, yet only the station itself
// hears it: the first lets the running board finish, a second stops it. gang stops its boards at
// the first.
TEST(CliStation, CtrlCAtTheTerminalLetsRunningBoardsFinishAndASecondStopsThem) {
  const struct {
    const char* command;
    int signals;
    const char* boardOutcome;
    int status;
  } cases[] = {
      {"station", 1, "done", 0},
      {"station", 2, "stopped", 8},
      {"gang", 1, "stopped", 130},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.command) + ", " + std::to_string(c.signals) + " Ctrl-C");
    test::TargetSimProcess sim({"--paced"});
    ASSERT_TRUE(sim.Started()) << sim.StderrText();
    std::vector<std::string> args{c.command, kBlink, "--port", sim.Device(), "--baud", "2400", "--json"};
    if (std::string(c.command) == "station") args.insert(args.end(), {"--settle", "0", "--max-boards", "1"});
    Child cli(args);
    int sent = 0;
    std::vector<json> lines;
    for (std::string line = cli.Line(); !line.empty(); line = cli.Line()) {
      lines.push_back(json::parse(line));
      const json& l = lines.back();
      // The first once the board writes; the second once the station said it heard the first.
      const bool first = sent == 0 && l["event"] == "phase";
      const bool second = sent == 1 && l["event"] == "message" &&
                          l["text"].get<std::string>().find("no new boards") != std::string::npos;
      if (sent < c.signals && (first || second)) {
        ::kill(-cli.pid, SIGINT);
        ++sent;
      }
    }
    EXPECT_EQ(sent, c.signals);
    EXPECT_EQ(cli.Wait(), c.status) << cli.Stderr();
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back()["boards"].size(), 1u) << lines.back().dump();
    EXPECT_EQ(lines.back()["boards"][0]["outcome"], c.boardOutcome) << lines.back().dump();
  }
}

// A board whose child cannot even start (here the program lost its execute permission after the
// station loaded the file) is that board's failure, and the station still ends.
TEST(CliStation, AChildThatCannotStartIsThatBoardsFailure) {
  char dir[] = "/tmp/bm-nostart-XXXXXX";
  const fs::path scratch = ::mkdtemp(dir);
  const fs::path program = scratch / "brindlemark-cli";
  fs::copy_file(BM_CLI_PATH, program);
  test::TargetSimProcess board;
  ASSERT_TRUE(board.Started());
  Child station(
      {"station", kBlink, "--port", board.Device(), "--settle", "2000", "--max-boards", "1", "--json"},
      program.string());
  std::vector<json> lines;
  for (std::string line = station.Line(); !line.empty(); line = station.Line()) {
    lines.push_back(json::parse(line));
    if (lines.back()["event"] == "appeared")
      fs::permissions(program, fs::perms::owner_read | fs::perms::owner_write);
  }
  EXPECT_EQ(station.Wait(), 8) << station.Stderr();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back()["event"], "result");
  ASSERT_EQ(lines.back()["boards"].size(), 1u) << lines.back().dump();
  EXPECT_EQ(lines.back()["boards"][0]["outcome"], "failed");
  EXPECT_NE(station.Stderr().find("station: 0 passed, 1 failed"), std::string::npos) << station.Stderr();
  fs::remove_all(scratch);
}

// Logs that cannot be kept stop the gang before any board starts; each board keeps its own log,
// named after its device.
TEST(CliGang, LogsAreNeverLostWithoutAWord) {
  char dir[] = "/tmp/bm-logs-XXXXXX";
  const fs::path scratch = ::mkdtemp(dir);
  std::ofstream(scratch / "file") << "x";
  // Not a folder, cannot be made, and a folder nobody may write in (not even root: /proc/self).
  test::TargetSimProcess board;  // where a run that went ahead anyway would end
  ASSERT_TRUE(board.Started());
  for (const std::string command : {"gang", "station"}) {
    for (const fs::path& bad : {scratch / "file", scratch / "file" / "sub", fs::path("/proc/self")}) {
      SCOPED_TRACE(command + " " + bad.string());
      std::vector<std::string> args{command, kBlink, "--port", board.Device(), "--log-dir", bad.string()};
      if (command == "station") args.insert(args.end(), {"--max-boards", "1"});
      const CliResult r = RunCli(args);
      EXPECT_EQ(r.status, 2) << r.err;
      const std::string said = command + ": cannot keep logs in '" + bad.string() + "': ";
      EXPECT_EQ(r.err.rfind(said, 0), 0u) << r.err;
      EXPECT_GT(r.err.size(), said.size() + 1) << "and why: " << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      // A script reads the same: the reason in a message line, then a usage outcome.
      args.push_back("--json");
      const CliResult j = RunCli(args);
      EXPECT_EQ(j.status, 2) << j.err;
      const auto lines = JsonLines(j.out);
      ASSERT_EQ(lines.size(), 2u) << j.out;
      EXPECT_EQ(lines[0]["text"], r.err.substr(0, r.err.size() - 1));
      EXPECT_EQ(lines[1]["outcome"], "usage") << j.out;
      EXPECT_EQ(lines[1]["exitCode"], 2) << j.out;
      EXPECT_EQ(SchemaErrors(j.out), "");
    }
  }
  test::TargetSimProcess a, b;
  ASSERT_TRUE(a.Started() && b.Started());
  const CliResult r = RunCli(
      {"gang", kBlink, "--port", a.Device(), "--port", b.Device(), "--log-dir", (scratch / "logs").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  int logs = 0;
  for (const auto& entry : fs::directory_iterator(scratch / "logs"))
    logs += entry.path().extension() == ".jsonl";
  EXPECT_EQ(logs, 2);
  EXPECT_TRUE(fs::exists(scratch / "logs" / (a.Device().substr(5).replace(3, 1, "_") + ".jsonl")));
  fs::remove_all(scratch);
}

}  // namespace
}  // namespace bm
