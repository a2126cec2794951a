// Load benchmark: a 256 KiB flash image as segment-addressed Intel HEX (16-byte records).
//
// Reports, as medians over several runs:
//  - the whole load by the engine (0xFF fill + read + parse), with the Qt event loop;
//  - the same with a counting event loop: number of yields and the longest gap between two
//    yields (the longest time the window would go without an event-loop turn);
//  - the fill alone and the HEX reader alone;
//  - whole processes, spawned in turn in the same runs with their output to /dev/null:
//    `brindlemark-cli load FILE`, `srec_cat FILE -Intel -o /dev/null -Binary` and their ratio,
//    with `true` and `brindlemark-cli --version` for what starting a process and the program
//    cost before any loading.
//
// Run: bin/bench_load [RUNS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "images/UHexLoad.h"
#include "platform/PortList.h"
#include "platform/qt/QtEventLoop.h"
#include "shell/core/Engine.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Counts yields and keeps the longest time between two of them.
class CountLoop : public bm::EventLoop {
 public:
  void processEvents(int) override {}
  void yield() override { ++yields; }
  long yields = 0;
};

class GapLoop : public bm::EventLoop {
 public:
  void processEvents(int) override {}
  void yield() override {
    const auto now = Clock::now();
    if (yields > 0) longest = std::max(longest, now - last);
    last = now;
    ++yields;
  }
  long yields = 0;
  Clock::duration longest{};
  Clock::time_point last;
};

// One run of a program from start to exit, its output to /dev/null; none when it could not be
// started or did not exit with 0. A program name without a '/' is looked up in PATH.
std::optional<double> TimeProcess(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto t0 = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return std::nullopt;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const double ms = Ms(Clock::now() - t0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return ms;
}

// The medians of whole-process runs of several commands, run in turn so that each run of one
// sees the same machine as the runs of the others.
class ProcessTimes {
 public:
  explicit ProcessTimes(std::vector<std::vector<std::string>> commands)
      : commands_(std::move(commands)), times_(commands_.size()), failed_(commands_.size(), false) {}

  // One run of each command; a run not kept only brings the program and its libraries into memory.
  void RunEach(bool keep = true) {
    for (size_t i = 0; i < commands_.size(); ++i) {
      if (failed_[i]) continue;
      const std::optional<double> ms = TimeProcess(commands_[i]);
      if (!ms)
        failed_[i] = true;
      else if (keep)
        times_[i].push_back(*ms);
    }
  }
  // None when the command failed in one of the runs (or never ran).
  std::optional<double> MedianOf(size_t i) const {
    if (failed_[i] || times_[i].empty()) return std::nullopt;
    return Median(times_[i]);
  }

 private:
  std::vector<std::vector<std::string>> commands_;
  std::vector<std::vector<double>> times_;
  std::vector<bool> failed_;
};

void PrintMs(const char* label, std::optional<double> ms) {
  if (ms)
    std::printf("%-45s%8.2f ms\n", label, *ms);
  else
    std::printf("%-45s  failed (not installed, or a non-zero exit)\n", label);
}

std::string WriteImage(const std::filesystem::path& dir) {
  const auto path = dir / "image256k.hex";
  std::ofstream out(path);
  char line[64];
  for (int base = 0; base < bm::kFlashSize; base += 0x10000) {
    const int segment = base >> 4;
    const int sum = 2 + 2 + (segment >> 8) + (segment & 0xFF);
    std::snprintf(line, sizeof line, ":02000002%04X%02X\n", segment, (-sum) & 0xFF);
    out << line;
    for (int offset = 0; offset < 0x10000; offset += 16) {
      int s = 16 + (offset >> 8) + (offset & 0xFF);
      std::string rec = ":10";
      std::snprintf(line, sizeof line, "%04X00", offset);
      rec += line;
      for (int i = 0; i < 16; ++i) {
        const int b = (base + offset + i) * 7 & 0xFF;
        std::snprintf(line, sizeof line, "%02X", b);
        rec += line;
        s += b;
      }
      std::snprintf(line, sizeof line, "%02X\n", (-s) & 0xFF);
      out << rec << line;
    }
  }
  out << ":00000001FF\n";
  return path.string();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  const auto dir = std::filesystem::temp_directory_path() / "bm-load-bench";
  std::filesystem::create_directories(dir);
  const std::string hex = WriteImage(dir);
  std::printf("file: %s (%ju bytes, 256 KiB image, 16-byte records, segment addressing)\n", hex.c_str(),
              static_cast<uintmax_t>(std::filesystem::file_size(hex)));

  bm::PortList ports;

  enum { kTrue, kCliVersion, kCliLoad, kSrecCat };
  ProcessTimes processes({{"true"},
                          {BM_CLI_PATH, "--version"},
                          {BM_CLI_PATH, "load", hex},
                          {"srec_cat", hex, "-Intel", "-o", "/dev/null", "-Binary"}});
  processes.RunEach(false);

  std::vector<double> qtLoad, gapLoad, fill, parse, gaps;
  long yields = 0;
  for (int r = 0; r < runs; ++r) {
    {
      bm::qt::QtEventLoop loop;
      bm::Engine engine(loop, ports);
      const auto t0 = Clock::now();
      engine.Load(hex);
      qtLoad.push_back(Ms(Clock::now() - t0));
      if (engine.State().FBytesRead != bm::kFlashSize)
        std::fprintf(stderr, "unexpected image end %d\n", engine.State().FBytesRead);
    }
    {
      GapLoop loop;
      bm::Engine engine(loop, ports);
      const auto t0 = Clock::now();
      engine.Load(hex);
      gapLoad.push_back(Ms(Clock::now() - t0));
      yields = loop.yields;
      gaps.push_back(Ms(loop.longest));
    }
    {
      bm::Globals g;
      CountLoop loop;
      auto t0 = Clock::now();
      std::fill(g.FlashArr.begin(), g.FlashArr.end(), 0xFF);
      std::fill(g.EEpromArr.begin(), g.EEpromArr.end(), 0xFF);
      fill.push_back(Ms(Clock::now() - t0));
      t0 = Clock::now();
      bm::Diagnostics found;
      bm::UHexLoad::IntelHex(hex, false, g, g.st, found, loop);
      parse.push_back(Ms(Clock::now() - t0));
    }
    processes.RunEach();
  }
  const double load = Median(qtLoad);
  std::printf("runs: %d (medians)\n", runs);
  std::printf("in-process:\n");
  std::printf("load by the engine, Qt event loop:           %8.2f ms\n", load);
  std::printf(
      "load, timing every yield:                    %8.2f ms  (%ld yields, longest gap %.3f ms median, %.3f "
      "ms worst)\n",
      Median(gapLoad), yields, Median(gaps), *std::max_element(gaps.begin(), gaps.end()));
  std::printf("  0xFF fill of both buffers (no yields):     %8.2f ms\n", Median(fill));
  std::printf("  HEX reader alone, yields only counted:    %8.2f ms\n", Median(parse));
  std::printf("whole processes, output to /dev/null:\n");
  PrintMs("true:", processes.MedianOf(kTrue));
  PrintMs("brindlemark-cli --version:", processes.MedianOf(kCliVersion));
  PrintMs("brindlemark-cli load FILE:", processes.MedianOf(kCliLoad));
  PrintMs("srec_cat FILE -Intel -o /dev/null -Binary:", processes.MedianOf(kSrecCat));
  const std::optional<double> cli = processes.MedianOf(kCliLoad), srec = processes.MedianOf(kSrecCat);
  if (srec) std::printf("ratio in-process load / srec_cat:             %8.2f\n", load / *srec);
  if (cli && srec)
    std::printf("ratio brindlemark-cli load / srec_cat:        %8.2f  (goal: 0.35 or less)\n", *cli / *srec);
  std::filesystem::remove_all(dir);
  return 0;
}
