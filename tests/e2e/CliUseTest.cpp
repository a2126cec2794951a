// What using brindlemark-cli on benches and in scripts found: folders and port names given
// relative to where the tool runs, a watched folder that does not exist yet, two names of one
// device, files far larger than an image, output that cannot be written, and signals at the
// edges of a run.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e/CliProcess.h"
#include "support/TargetSimProcess.h"

namespace bm {
namespace {

using namespace test;

// A scratch folder, removed at the end.
struct Scratch {
  Scratch() {
    char dir[] = "/tmp/bm-use-XXXXXX";
    path = ::mkdtemp(dir);
  }
  ~Scratch() { fs::remove_all(path); }
  fs::path path;
};

// The lines of `child` up to its end.
std::vector<json> LinesOf(Child& child) {
  std::vector<json> lines;
  for (std::string line = child.Line(); !line.empty(); line = child.Line())
    lines.push_back(json::parse(line));
  return lines;
}

// --watch is resolved once: a relative folder's entries are flashed under their full names; a
// folder whose parents do not exist yet (/dev/serial/by-id before the first adapter) is waited
// for from the nearest parent that does; a file is refused at once.
TEST(CliStation, AWatchedFolderIsResolvedOnceAndWaitedForFromItsNearestParent) {
  Scratch scratch;
  test::TargetSimProcess board;
  ASSERT_TRUE(board.Started()) << board.StderrText();
  const std::vector<std::string> once{"--settle", "0", "--max-boards", "1", "--json"};
  {
    SCOPED_TRACE("a relative folder");
    fs::create_directories(scratch.path / "wd");
    fs::create_symlink(board.Device(), scratch.path / "wd" / "board");
    std::vector<std::string> args{"station", kBlink, "--watch", "wd"};
    args.insert(args.end(), once.begin(), once.end());
    Child station(args, BM_CLI_PATH, scratch.path.string());
    const std::vector<json> lines = LinesOf(station);
    EXPECT_EQ(station.Wait(), 0) << station.Stderr();
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back()["boards"].size(), 1u) << lines.back().dump();
    EXPECT_EQ(lines.back()["boards"][0]["port"], (scratch.path / "wd" / "board").string());
    EXPECT_EQ(lines.back()["boards"][0]["outcome"], "done");
  }
  {
    SCOPED_TRACE("a folder three levels below what exists");
    const fs::path watch = scratch.path / "serial" / "by" / "id";
    std::vector<std::string> args{"station", kBlink, "--watch", watch.string()};
    args.insert(args.end(), once.begin(), once.end());
    Child station(args);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    fs::create_directories(watch);
    fs::create_symlink(board.Device(), watch / "board");
    const std::vector<json> lines = LinesOf(station);
    EXPECT_EQ(station.Wait(), 0) << station.Stderr();
    ASSERT_FALSE(lines.empty());
    ASSERT_EQ(lines.back()["boards"].size(), 1u) << lines.back().dump();
    EXPECT_EQ(lines.back()["boards"][0]["outcome"], "done");
  }
  {
    SCOPED_TRACE("a file");
    std::ofstream(scratch.path / "file") << "x";
    const CliResult r = RunCli({"station", kBlink, "--watch", (scratch.path / "file").string()});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("is not a folder"), std::string::npos) << r.err;
  }
}

// Two names of one device are one board, a relative name included: its child gets the full name,
// so its busy check and lock see the device the other name would.
TEST(CliGang, TwoNamesOfOneDeviceAreOneBoard) {
  Scratch scratch;
  test::TargetSimProcess board;
  ASSERT_TRUE(board.Started()) << board.StderrText();
  fs::create_symlink(board.Device(), scratch.path / "link1");
  Child gang({"gang", kBlink, "--port", "./link1", "--port", (scratch.path / "link1").string(), "--json"},
             BM_CLI_PATH, scratch.path.string());
  const std::vector<json> lines = LinesOf(gang);
  EXPECT_EQ(gang.Wait(), 0) << gang.Stderr();
  ASSERT_FALSE(lines.empty());
  const json& boards = lines.back()["boards"];
  ASSERT_EQ(boards.size(), 1u) << lines.back().dump();
  EXPECT_EQ(boards[0]["port"], (scratch.path / "link1").string());
  EXPECT_EQ(boards[0]["outcome"], "done");
}

// A file far larger than any image (the largest flash is 256 KiB) is refused before it is read,
// as the file itself or as a project's image.
TEST(CliFiles, AFileLargerThanAnyImageIsRefusedBeforeItIsRead) {
  Scratch scratch;
  const fs::path big = scratch.path / "big.hex";
  fs::copy_file(std::string(BM_SOURCE_DIR) + "/examples/blink/blink.ppro", scratch.path / "big.ppro");
  { std::ofstream(big) << ""; }
  fs::resize_file(big, (64u << 20) + 1);  // sparse: nothing is written to the disk
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"load", big.string()},
        {"download", big.string(), "--port", "sim"},
        {"download", (scratch.path / "big.ppro").string(), "--port", "sim"}}) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    const CliResult r = RunCli(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("is 65 MiB, larger than any image can be (at most 64 MiB); nothing was read"),
              std::string::npos)
        << r.err;
  }
}

// What the tool reports must reach its reader: a closed pipe (--json | head -1) or a full disk
// ends a run that was done as output-failed, and a gang board whose log cannot be written too;
// never a death by SIGPIPE, never exit 0.
TEST(CliOutput, OutputThatCannotBeWrittenIsAnOutcomeOfItsOwn) {
  {
    SCOPED_TRACE("a pipe closed after the first line");
    Child cli({"download", kBlink, "--port", "sim", "--json"});
    EXPECT_FALSE(cli.Line().empty());
    ::close(cli.stdoutFd);
    cli.stdoutFd = -1;
    EXPECT_EQ(cli.Wait(), 10) << cli.Stderr();
    EXPECT_NE(cli.Stderr().find("could not be written"), std::string::npos) << cli.Stderr();
  }
  {
    SCOPED_TRACE("a full disk");
    const int raw = std::system(("'" + std::string(BM_CLI_PATH) + "' download '" + kBlink +
                                 "' --port sim --json > /dev/full 2>/dev/null")
                                    .c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 10);
  }
  {
    SCOPED_TRACE("a gang board's log");
    Scratch scratch;
    test::TargetSimProcess board;
    ASSERT_TRUE(board.Started()) << board.StderrText();
    const fs::path logs = scratch.path / "logs";
    fs::create_directories(logs);
    const std::string device = fs::canonical(board.Device()).string();
    fs::create_symlink("/dev/full", logs / (device.substr(5, 3) + "_" + device.substr(9) + ".jsonl"));
    const CliResult r =
        RunCli({"gang", kBlink, "--port", board.Device(), "--log-dir", logs.string(), "--json"});
    EXPECT_EQ(r.status, 10) << r.err;
    const std::vector<json> lines = JsonLines(r.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["outcome"], "output-failed") << lines.back().dump();
    EXPECT_EQ(lines.back()["boards"][0]["outcome"], "output-failed") << lines.back().dump();
    std::string all;
    for (const json& l : lines) all += l.dump() + "\n";
    EXPECT_EQ(SchemaErrors(all), "");
  }
}

// The signals are caught from start-up to exit: one that comes after the result line leaves the
// exit status as the line says. At 300 baud an interrupted run still ends within a second.
TEST(CliSignals, ASignalNeverOutrunsTheResultAndEndsASlowRunAtOnce) {
  {
    SCOPED_TRACE("SIGTERM after the result line");
    Child cli({"download", kBlink, "--port", "sim", "--json"});
    std::vector<json> lines;
    for (std::string line = cli.Line(); !line.empty(); line = cli.Line()) {
      lines.push_back(json::parse(line));
      if (lines.back()["event"] == "result") ::kill(cli.pid, SIGTERM);
    }
    EXPECT_EQ(cli.Wait(), 0) << cli.Stderr();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["outcome"], "done");
  }
  {
    SCOPED_TRACE("Ctrl-C at 300 baud");
    test::TargetSimProcess sim({"--paced", "--baud", "300"});
    ASSERT_TRUE(sim.Started()) << sim.StderrText();
    Child cli({"download", kBlink, "--port", sim.Device(), "--baud", "300", "--json"});
    std::chrono::steady_clock::time_point sent{};
    for (std::string line = cli.Line(std::chrono::seconds(60)); !line.empty(); line = cli.Line()) {
      if (json::parse(line)["event"] == "phase" && sent == std::chrono::steady_clock::time_point{}) {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));  // in the middle of the first page
        ::kill(cli.pid, SIGINT);
        sent = std::chrono::steady_clock::now();
      }
    }
    EXPECT_EQ(cli.Wait(), 130) << cli.Stderr();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1));
  }
}

// -q keeps errors only, in every command: no trail of the code's places after an unexpected
// error, no live lines of gang's and station's boards (their summaries stay).
TEST(CliQuiet, QuietLeavesOnlyErrorsInEveryCommand) {
  Scratch scratch;
  {
    SCOPED_TRACE("download of a cut pack");
    std::ofstream(scratch.path / "cut.pack") << std::string(5, 'x');
    const CliResult r = RunCli({"download", (scratch.path / "cut.pack").string(), "--port", "sim", "-q"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Unexpected error: "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("LoadPackFile"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("OpenButton"), std::string::npos) << r.err;
  }
  test::TargetSimProcess board;
  ASSERT_TRUE(board.Started()) << board.StderrText();
  {
    SCOPED_TRACE("gang");
    const CliResult r = RunCli({"gang", kBlink, "--port", board.Device(), "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("done"), std::string::npos) << "the summary stays: " << r.out;
  }
  {
    SCOPED_TRACE("station");
    const CliResult r =
        RunCli({"station", kBlink, "--port", board.Device(), "--settle", "0", "--max-boards", "1", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("appeared"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("station: 1 passed, 0 failed"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace bm
