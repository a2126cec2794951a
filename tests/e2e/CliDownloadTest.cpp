// brindlemark-cli through the real serial port to brindlemark-target-sim on a pseudo-terminal:
// what the tool writes must be what the simulator holds afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TargetSimProcess.h"

namespace bm {
namespace {

namespace fs = std::filesystem;

const fs::path kBlink = fs::path(BM_SOURCE_DIR) / "examples" / "blink" / "blink.ppro";
constexpr int kPageBytes = 128;  // the simulator's default page: 64 words

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A scratch folder removed at the end of the test.
struct TempDir {
  TempDir() {
    char pattern[] = "/tmp/bm-e2e-XXXXXX";
    path = ::mkdtemp(pattern);
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

struct CliResult {
  int status;
  std::string output;  // stdout and stderr
};

CliResult RunCli(const std::vector<std::string>& args, const fs::path& scratch) {
  std::string command = std::string("'") + BM_CLI_PATH + "'";
  for (const std::string& a : args) command += " '" + a + "'";
  const fs::path out = scratch / "cli-output.txt";
  command += " > '" + out.string() + "' 2>&1 < /dev/null";
  const int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out)};
}

// The images the Load button makes of a file, raw, as `load` writes them.
struct Images {
  std::vector<uint8_t> flash, eeprom;
};
Images Loaded(const fs::path& project, const fs::path& scratch) {
  const fs::path flash = scratch / "expected.flash", eeprom = scratch / "expected.eeprom";
  const CliResult r = RunCli(
      {"load", project.string(), "--flash-out", flash.string(), "--eeprom-out", eeprom.string()}, scratch);
  EXPECT_EQ(r.status, 0) << r.output;
  return {ReadBytes(flash), ReadBytes(eeprom)};
}

bool StartsWith(const std::vector<uint8_t>& whole, const std::vector<uint8_t>& part) {
  return whole.size() >= part.size() && std::equal(part.begin(), part.end(), whole.begin());
}

TEST(CliDownload, WritesTheProjectsFlashAndEepromIntoTheTarget) {
  ASSERT_TRUE(fs::exists(kBlink)) << kBlink;
  TempDir dir;
  const Images expected = Loaded(kBlink, dir.path);
  ASSERT_FALSE(expected.flash.empty());
  ASSERT_FALSE(expected.eeprom.empty());

  const fs::path flashOut = dir.path / "flash.bin", eepromOut = dir.path / "eeprom.bin";
  test::TargetSimProcess sim({"--flash-out", flashOut.string(), "--eeprom-out", eepromOut.string()});
  ASSERT_TRUE(sim.Started()) << sim.StderrText();
  const CliResult r = RunCli({"download", kBlink.string(), "--port", sim.Device(), "--stop"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("programming Flash"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("progress 100 %"), std::string::npos) << r.output;
  ASSERT_EQ(sim.Stop(), 0) << sim.StderrText();

  const auto flash = ReadBytes(flashOut), eeprom = ReadBytes(eepromOut);
  EXPECT_TRUE(StartsWith(flash, expected.flash)) << "flash differs from the image";
  EXPECT_TRUE(StartsWith(eeprom, expected.eeprom)) << "EEPROM differs from the image";
  EXPECT_TRUE(std::all_of(flash.begin() + static_cast<long>(expected.flash.size()), flash.end(),
                          [](uint8_t b) { return b == 0xFF; }))
      << "nothing written past the image";
}

// A pseudo-terminal takes bytes far faster than a line carries them. The simulator here keeps
// real line time, so at 9600 baud a 128-byte page needs about 147 ms to arrive: the checksum
// only comes within its reply wait if the page's bytes really went out one at a time.
TEST(CliDownload, PacesThePageAtTheLineRateOverAPseudoTerminal) {
  TempDir dir;
  const Images expected = Loaded(kBlink, dir.path);
  const fs::path flashOut = dir.path / "flash.bin";
  test::TargetSimProcess sim({"--paced", "--flash-out", flashOut.string()});
  ASSERT_TRUE(sim.Started()) << sim.StderrText();
  const CliResult r =
      RunCli({"download", kBlink.string(), "--port", sim.Device(), "--baud", "9600"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  ASSERT_EQ(sim.Stop(), 0) << sim.StderrText();
  EXPECT_TRUE(StartsWith(ReadBytes(flashOut), expected.flash)) << "flash differs from the image";
}

// The slow rates the help promises, with a loader that listens at that rate only and keeps the
// line time both ways, so each window must add the line time of its bytes: the run finds,
// identifies, writes and verifies. At 300 baud "?" with "KW" takes 110 ms and "i" 330 ms: more
// than a 250 ms window, which still keeps the row clear of a busy machine's scheduling. At 1200
// baud "i" takes 82 ms, too close to any window a busy machine allows for, so that row has the
// pseudo-terminal's wide window and shows the rate end to end. At 300 baud a page takes 4.7 s:
// one page of image there.
TEST(CliDownload, SlowRatesFindWriteAndVerify) {
  struct Case {
    const char* baud;
    const char* replyTimeoutMs;  // nullptr: the pseudo-terminal's window
    bool tinyImage;              // 16 bytes of a .hex instead of the blink project
  };
  const Case cases[] = {{"1200", nullptr, false}, {"300", "250", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.baud) + " baud");
    TempDir dir;
    fs::path file = kBlink;
    if (c.tinyImage) {
      file = dir.path / "tiny.hex";
      std::ofstream(file) << ":10000000000102030405060708090A0B0C0D0E0F78\n:00000001FF\n";
    }
    const Images expected = Loaded(file, dir.path);
    ASSERT_FALSE(expected.flash.empty());
    const fs::path flashOut = dir.path / "flash.bin", eepromOut = dir.path / "eeprom.bin";
    test::TargetSimProcess sim(
        {"--paced", "--baud", c.baud, "--flash-out", flashOut.string(), "--eeprom-out", eepromOut.string()});
    ASSERT_TRUE(sim.Started()) << sim.StderrText();
    std::vector<std::string> args{"download", file.string(), "--port",  sim.Device(),
                                  "--baud",   c.baud,        "--verify"};
    if (c.replyTimeoutMs) args.insert(args.end(), {"--reply-timeout", c.replyTimeoutMs});
    const CliResult r = RunCli(args, dir.path);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("verified"), std::string::npos) << r.output;
    ASSERT_EQ(sim.Stop(), 0) << sim.StderrText();
    EXPECT_TRUE(StartsWith(ReadBytes(flashOut), expected.flash)) << "flash differs from the image";
    EXPECT_TRUE(StartsWith(ReadBytes(eepromOut), expected.eeprom)) << "EEPROM differs from the image";
  }
}

TEST(CliErase, ErasesThePagesTheImageCoversAndNothingElse) {
  ASSERT_TRUE(fs::exists(kBlink)) << kBlink;
  TempDir dir;
  const Images expected = Loaded(kBlink, dir.path);
  const fs::path flashIn = dir.path / "flash-in.bin", flashOut = dir.path / "flash.bin";
  {
    std::ofstream in(flashIn, std::ios::binary);
    const std::string zeros(0x4000 * 2, '\0');  // application and boot section of the default board
    in << zeros;
  }
  test::TargetSimProcess sim({"--flash-in", flashIn.string(), "--flash-out", flashOut.string()});
  ASSERT_TRUE(sim.Started()) << sim.StderrText();
  const CliResult r = RunCli({"erase", kBlink.string(), "--port", sim.Device()}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  ASSERT_EQ(sim.Stop(), 0) << sim.StderrText();

  const auto flash = ReadBytes(flashOut);
  const size_t erased = (expected.flash.size() + kPageBytes - 1) / kPageBytes * kPageBytes;
  ASSERT_GT(flash.size(), erased);
  EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + static_cast<long>(erased),
                          [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(
      std::all_of(flash.begin() + static_cast<long>(erased), flash.end(), [](uint8_t b) { return b == 0; }));
}

enum class Copy { Whole, WithoutEep, DamagedHex };

// A copy of the example project with its .hex and .eep: whole, without the .eep, or with a
// checksum error in the third line of the .hex.
fs::path ProjectCopy(const fs::path& dir, Copy copy) {
  for (const char* ext : {".hex", ".eep"}) {
    if (copy == Copy::WithoutEep && std::string(ext) == ".eep") continue;
    fs::path source = kBlink;
    source.replace_extension(ext);
    const fs::path target = dir / (std::string("board") + ext);
    if (fs::exists(source)) fs::copy_file(source, target);
    if (copy == Copy::DamagedHex && std::string(ext) == ".hex") {
      std::string text = ReadText(target);
      const size_t third = text.find(':', text.find(':', text.find(':') + 1) + 1);
      text[third + 9] = text[third + 9] == '0' ? '1' : '0';  // the first data digit
      std::ofstream(target, std::ios::binary) << text;
    }
  }
  fs::copy_file(kBlink, dir / "board.ppro");
  return dir / "board.ppro";
}

TEST(CliDownload, EveryFailureHasItsOwnExitStatus) {
  ASSERT_TRUE(fs::exists(kBlink)) << kBlink;
  struct Case {
    std::vector<std::string> simOptions;
    std::vector<std::string> cliOptions;
    int status;
    const char* output;
    const char* why;
    Copy copy = Copy::Whole;
  } cases[] = {
      {{"--signature", "1E9587"}, {}, 4, "Device ID :\n1E950F\nexpected!", "another chip"},
      {{"--signature", "1E9587"}, {}, 4, "found: signature 1E9587 (refused)", "the chip found is named"},
      {{"--fault", "I:1:noreply"}, {}, 4, "Communication error", "no reply to the identification"},
      {{"--fault", "?:2:noreply"},
       {},
       6,
       "Target not found\ndownload: the target stopped answering",
       "the check before the run"},
      {{"--fault", "D:1:noreply"}, {}, 5, "5 Communication error", "no checksum"},
      {{"--fault", "P:1:wrong"}, {}, 5, "6 Communication error", "goes on after 6 at block 0: still 5"},
      {{"--baud", "19200"}, {}, 3, "Target not found", "the loader listens at another rate"},
      {{"--baud", "19200"},
       {},
       3,
       " at 57600 baud. Is the loader running? Is the rate right? Try --baud 115200",
       "one closing hint names the ports and the rate tried"},
      {{"--fault", "?:1:noreply"}, {}, 3, "Target not found", "a loader still starting misses the one \"?\""},
      {{}, {"--verify"}, 0, "download: done", "--verify: the chip holds the image"},
      {{"--fault", "P:2:corrupt"},
       {"--verify"},
       9,
       "Verify failed: the flash differs from the image from the page at 0x0080 on.",
       "--verify: a page written wrong is found and named"},
      {{"--loader-ids", "0101,0,0,0"},
       {"--verify"},
       4,
       "This loader cannot verify the flash (its reply to \"i\" names no flash check).\nNothing was written.",
       "--verify with a loader of another family: refused before writing"},
      {{"--fault", "?:1:noreply"},
       {"--connect-attempts", "3"},
       0,
       "download: done",
       "asked again within the second, it answers"},
      {{"--baud", "19200"}, {"--baud", "19200"}, 0, "download: done", "--baud replaces the project's"},
      {{},
       {"--no-flash", "--no-eeprom"},
       2,
       "brindlemark-cli download: --no-flash and --no-eeprom leave nothing to write",
       "options that leave nothing to write: usage, before any port is opened"},
      {{}, {"--bogus"}, 2, "brindlemark-cli download: Unknown option 'bogus'.", "usage"},
      {{},
       {"--baud", "3"},
       2,
       "brindlemark-cli download: --baud 3 is not a usable rate (the slowest is 300)",
       "a rate too slow to wait for"},
      {{"--flash-words", "128"},
       {},
       7,
       "The flash image (274 bytes) is larger than the target's flash (256 bytes).\nNothing was written.",
       "an image the target cannot hold is refused"},
      {{},
       {},
       0,
       "warning: the project has no EEPROM image",
       "a project without .eep is no failure",
       Copy::WithoutEep},
      {{},
       {},
       1,
       "checksum error!\nat Line:3\n (file: board.hex)\n",
       "a damaged file loads nothing",
       Copy::DamagedHex},
      {{}, {"--force"}, 1, "nothing was loaded", "not even with --force", Copy::DamagedHex},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TempDir dir;
    const fs::path project = ProjectCopy(dir.path, c.copy);
    test::TargetSimProcess sim(c.simOptions);
    ASSERT_TRUE(sim.Started()) << sim.StderrText();
    std::vector<std::string> args{"download", project.string(), "--port", sim.Device()};
    args.insert(args.end(), c.cliOptions.begin(), c.cliOptions.end());
    const CliResult r = RunCli(args, dir.path);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.output), std::string::npos) << r.output;
    sim.Stop();
  }
}

// A project without its .eep is a project without an EEPROM image: with --json its "Open failed"
// report is a warning, and the run is done.
TEST(CliDownload, AMissingEepIsAWarningAndTheRunIsDone) {
  TempDir dir;
  const fs::path project = ProjectCopy(dir.path, Copy::WithoutEep);
  test::TargetSimProcess sim;
  ASSERT_TRUE(sim.Started()) << sim.StderrText();
  const CliResult r = RunCli({"download", project.string(), "--port", sim.Device(), "--json"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  std::istringstream lines(r.output);
  int reports = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"event\":\"message\"") == std::string::npos ||
        line.find("Open failed") == std::string::npos)
      continue;
    ++reports;
    EXPECT_NE(line.find("\"kind\":\"warning\""), std::string::npos) << line;
  }
  EXPECT_EQ(reports, 1) << r.output;
  EXPECT_NE(r.output.find("\"outcome\":\"done\",\"failures\":[],\"exitCode\":0"), std::string::npos)
      << r.output;
  sim.Stop();
}

// A file with nothing for the chosen phases ends before any port is opened: exit 1, one line, and
// not a byte reaches the target (an erase of an .eep would otherwise erase page 0).
TEST(CliDownload, NothingToWriteIsDecidedBeforeAnyPortIsOpened) {
  const struct {
    std::string command, ext;
    std::vector<std::string> options;
    const char* line;
  } cases[] = {
      {"erase", ".eep", {}, "Nothing to erase: no flash image is loaded"},
      {"download",
       ".hex",
       {"--no-flash"},
       "Nothing to write: --no-flash leaves out the flash image and the file has no EEPROM image"},
      {"download",
       ".eep",
       {"--no-eeprom"},
       "Nothing to write: --no-eeprom leaves out the EEPROM image and the file has no flash image"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command + " " + c.ext);
    TempDir dir;
    fs::path file = ProjectCopy(dir.path, Copy::Whole);
    file.replace_extension(c.ext);
    test::TargetSimProcess sim({"--trace"});
    ASSERT_TRUE(sim.Started()) << sim.StderrText();
    std::vector<std::string> args{c.command, file.string(), "--port", sim.Device(), "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CliResult r = RunCli(args, dir.path);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(std::string("\"text\":\"") + c.line + "\""), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"outcome\":\"nothing-to-write\",\"failures\":[],\"exitCode\":1"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("\"event\":\"port\""), std::string::npos) << "no port was tried\n" << r.output;
    sim.Stop();
    EXPECT_EQ(sim.StderrText(), "") << "the target received nothing";
  }
}

// A brindlemark-cli run in the background, its output (stdout and stderr) going to a file.
class BackgroundCli {
 public:
  BackgroundCli(const std::vector<std::string>& args, fs::path output) : output_(std::move(output)) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
    ::posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<std::string> text{BM_CLI_PATH};
    text.insert(text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, BM_CLI_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    ::posix_spawn_file_actions_destroy(&actions);
  }
  ~BackgroundCli() { Kill(); }

  std::string Output() const { return ReadText(output_); }
  // Whether `text` appeared in the output within `ms`.
  bool Says(const std::string& text, int ms) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (Output().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }
  bool Running() { return Reap(false) < 0; }
  // Its exit status once it ended by itself (-1 while it still runs after `ms`).
  int Wait(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (Reap(false) < 0 && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return status_;
  }
  // SIGKILL: no chance to close its port or tidy anything.
  void Kill() {
    if (Reap(false) >= 0 || pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    Reap(true);
  }

 private:
  int Reap(bool block) {
    if (pid_ <= 0 || status_ >= 0) return status_;
    int raw = 0;
    if (::waitpid(pid_, &raw, block ? 0 : WNOHANG) == pid_)
      status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return status_;
  }

  fs::path output_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// An image of `bytes` bytes as Intel HEX: at 9600 baud each 128-byte page takes 147 ms of line
// time, so a run writes for seconds whatever the machine's load.
fs::path LongImage(const fs::path& dir, int bytes) {
  const fs::path file = dir / "long.hex";
  std::ofstream out(file);
  for (int address = 0; address < bytes; address += 16) {
    unsigned sum = 16 + (address >> 8) + (address & 0xFF);
    char line[64];
    std::snprintf(line, sizeof line, ":10%04X00", address);
    out << line;
    for (int i = 0; i < 16; ++i) {
      const unsigned b = static_cast<unsigned>((address + i) * 7 + 3) % 251;
      sum += b;
      std::snprintf(line, sizeof line, "%02X", b);
      out << line;
    }
    std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    out << line;
  }
  out << ":00000001FF\n";
  return file;
}

// A second run on the port a first run is writing through is told "busy" (as root too, where its
// open passes the first run's locks) and disturbs nothing: the first ends done and the chip holds
// its image.
TEST(CliSecondRun, IsToldBusyAndLeavesTheRunningOneAlone) {
  TempDir dir;
  const fs::path file = LongImage(dir.path, 8192);  // 64 pages: about 10 s at 9600 baud
  const Images expected = Loaded(file, dir.path);
  const fs::path flashOut = dir.path / "flash.bin";
  test::TargetSimProcess sim({"--paced", "--flash-out", flashOut.string()});
  ASSERT_TRUE(sim.Started()) << sim.StderrText();
  BackgroundCli first({"download", file.string(), "--port", sim.Device(), "--baud", "9600"},
                      dir.path / "first.txt");
  ASSERT_TRUE(first.Says("programming Flash", 30'000)) << first.Output();

  const struct {
    std::vector<std::string> args;
    int status;
    std::string line;
  } seconds[] = {
      {{"download", file.string(), "--port", sim.Device(), "--baud", "9600"},
       3,
       sim.Device() + ": could not open — busy (held by another program)"},
      {{"ports", "--probe", "--port", sim.Device()},
       0,
       sim.Device() + "\tnamed device\tcould not open — busy (held by another program)"},
  };
  for (const auto& second : seconds) {
    SCOPED_TRACE(second.args.front());
    const CliResult r = RunCli(second.args, dir.path);
    EXPECT_EQ(r.status, second.status) << r.output;
    EXPECT_NE(r.output.find(second.line), std::string::npos) << r.output;
  }
  ASSERT_TRUE(first.Running()) << "the first run ended before the second looked: nothing was shown\n"
                               << first.Output();
  EXPECT_EQ(first.Wait(120'000), 0) << first.Output();
  EXPECT_NE(first.Output().find("download: done"), std::string::npos) << first.Output();
  ASSERT_EQ(sim.Stop(), 0) << sim.StderrText();
  EXPECT_TRUE(StartsWith(ReadBytes(flashOut), expected.flash)) << "flash differs from the image";
}

// A run killed in the middle of a page leaves nothing behind that says "busy" (no lock file, no
// exclusive flag, no lock): the next run finds the loader and writes the whole image.
TEST(CliSecondRun, ARunAfterAKilledOneIsNotToldBusy) {
  TempDir dir;
  const fs::path file = LongImage(dir.path, 8192);
  const Images expected = Loaded(file, dir.path);
  const fs::path flashOut = dir.path / "flash.bin";
  test::TargetSimProcess sim({"--paced", "--flash-out", flashOut.string()});
  ASSERT_TRUE(sim.Started()) << sim.StderrText();
  {
    BackgroundCli killed({"download", file.string(), "--port", sim.Device(), "--baud", "9600"},
                         dir.path / "killed.txt");
    ASSERT_TRUE(killed.Says("programming Flash", 30'000)) << killed.Output();
    killed.Kill();
  }
  const CliResult r = RunCli({"download", file.string(), "--port", sim.Device()}, dir.path);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output.find("busy"), std::string::npos) << r.output;
  ASSERT_EQ(sim.Stop(), 0) << sim.StderrText();
  EXPECT_TRUE(StartsWith(ReadBytes(flashOut), expected.flash)) << "flash differs from the image";
}

}  // namespace
}  // namespace bm
