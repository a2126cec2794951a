// Many boards at once: the same image into 8 paced simulated targets on pseudo-terminals with
// `brindlemark-cli gang`, against one board with `download`. Each board's child process paces
// its own line, so the gang should take about as long as one board.
// Run: bin/gang_bench [BOARDS] [KIB] [BAUD]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/TargetSimProcess.h"

namespace {

// An Intel HEX file of `bytes` bytes from address 0 (below 64 KiB), 16 bytes a record.
void WriteHex(const std::string& path, int bytes) {
  FILE* out = std::fopen(path.c_str(), "w");
  for (int at = 0; at < bytes; at += 16) {
    unsigned sum = 16 + (at >> 8) + (at & 0xFF);
    std::fprintf(out, ":10%04X00", at);
    for (int i = 0; i < 16; ++i) {
      const unsigned value = (at + i) * 7 % 251;
      sum += value;
      std::fprintf(out, "%02X", value);
    }
    std::fprintf(out, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  }
  std::fprintf(out, ":00000001FF\n");
  std::fclose(out);
}

// Wall seconds of a shell command, and whether it exited 0.
std::pair<double, bool> Timed(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const int raw = std::system((command + " > /dev/null 2>&1").c_str());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {seconds, WIFEXITED(raw) && WEXITSTATUS(raw) == 0};
}

}  // namespace

int main(int argc, char** argv) {
  const int boards = argc > 1 ? std::atoi(argv[1]) : 8;
  const int kib = argc > 2 ? std::atoi(argv[2]) : 16;
  const std::string baud = argc > 3 ? argv[3] : "57600";
  char dir[] = "/tmp/bm-gang-bench-XXXXXX";
  const std::string scratch = ::mkdtemp(dir);
  const std::string image = scratch + "/image.hex";
  WriteHex(image, kib * 1024);
  const std::string cli = BM_CLI_PATH;

  std::vector<std::unique_ptr<bm::test::TargetSimProcess>> targets;
  for (int i = 0; i < boards; ++i) {
    targets.push_back(std::make_unique<bm::test::TargetSimProcess>(std::vector<std::string>{"--paced"}));
    if (!targets.back()->Started()) {
      std::fprintf(stderr, "brindlemark-target-sim did not start\n");
      return 1;
    }
  }
  const auto [one, oneOk] =
      Timed(cli + " download " + image + " --baud " + baud + " --port " + targets[0]->Device());
  std::string ports;
  for (const auto& t : targets) ports += " --port " + t->Device();
  const auto [all, allOk] = Timed(cli + " gang " + image + " --baud " + baud + ports);
  std::filesystem::remove_all(scratch);

  std::printf("gang: %d KiB at %s baud on %u cores\n", kib, baud.c_str(),
              std::thread::hardware_concurrency());
  std::printf("  1 board  (download): %6.2f s%s\n", one, oneOk ? "" : "  FAILED");
  std::printf("  %d boards (gang)    : %6.2f s%s\n", boards, all, allOk ? "" : "  FAILED");
  std::printf("  ratio              : %6.2f (target <= 1.2)\n", all / one);
  return oneOk && allOk ? 0 : 1;
}
