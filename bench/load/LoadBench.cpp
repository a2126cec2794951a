// Load benchmark: a 256 KiB flash image as segment-addressed Intel HEX (16-byte records).
//
// Reports, as medians over several runs:
//  - the whole load through the Load button (0xFF fill + read + parse), with the Qt event loop;
//  - the same with a counting event loop: number of yields and the longest gap between two
//    yields (the longest time the window would go without an event-loop turn);
//  - the fill alone and the HEX reader alone;
//  - side by side, `srec_cat FILE -Intel -o OUT -Binary` on the same file (process included).
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "images/UHexLoad.h"
#include "platform/PortList.h"
#include "platform/qt/QtEventLoop.h"
#include "shell/core/HeadlessDisplay.h"
#include "shell/core/Main.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

class QuietDialogs : public bm::Dialogs {
 public:
  void MessageBox(const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
  std::optional<std::string> OpenFile(const std::vector<bm::FileKind>&) override { return file; }
  std::optional<std::string> file;
};

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

  bm::HeadlessDisplay display;
  QuietDialogs dialogs;
  dialogs.file = hex;
  bm::PortList ports;

  std::vector<double> qtLoad, gapLoad, fill, parse, srec, gaps;
  long yields = 0;
  for (int r = 0; r < runs; ++r) {
    {
      bm::qt::QtEventLoop loop;
      bm::Main main(display, dialogs, loop, ports);
      const auto t0 = Clock::now();
      main.FOpenBtn_Action();
      qtLoad.push_back(Ms(Clock::now() - t0));
      if (main.g.FBytesRead != bm::kFlashSize)
        std::fprintf(stderr, "unexpected image end %d\n", main.g.FBytesRead);
    }
    {
      GapLoop loop;
      bm::Main main(display, dialogs, loop, ports);
      const auto t0 = Clock::now();
      main.FOpenBtn_Action();
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
      bm::UHexLoad::IntelHex(hex, false, g, g.st, dialogs, loop);
      parse.push_back(Ms(Clock::now() - t0));
    }
    {
      const std::string cmd = "srec_cat '" + hex + "' -Intel -o '" + (dir / "out.bin").string() + "' -Binary";
      const auto t0 = Clock::now();
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "srec_cat failed\n");
      srec.push_back(Ms(Clock::now() - t0));
    }
  }
  const double load = Median(qtLoad);
  const double other = Median(srec);
  std::printf("runs: %d (medians)\n", runs);
  std::printf("load through the Load button, Qt event loop: %8.2f ms\n", load);
  std::printf(
      "load, timing every yield:                    %8.2f ms  (%ld yields, longest gap %.3f ms median, %.3f "
      "ms worst)\n",
      Median(gapLoad), yields, Median(gaps), *std::max_element(gaps.begin(), gaps.end()));
  std::printf("  0xFF fill of both buffers (no yields):     %8.2f ms\n", Median(fill));
  std::printf("  HEX reader alone, yields only counted:    %8.2f ms\n", Median(parse));
  std::printf("srec_cat -Intel -> -Binary (whole process):  %8.2f ms\n", other);
  std::printf("ratio load / srec_cat:                       %8.2f\n", load / other);
  std::filesystem::remove_all(dir);
  return 0;
}
