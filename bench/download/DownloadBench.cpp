// How close a download comes to what the line allows.
//
// A 32 KiB image (every page holds data) goes through the real Qt serial port into
// brindlemark-target-sim --paced on a pseudo-terminal: the simulator lets each byte take 11 bit
// times at the set rate and each page erase or write 4.5 ms. The floor is what the protocol
// itself needs for the same image: every byte each way at 11 bits, plus the page times. The same
// download runs three times: on the plain paced pseudo-terminal, and with the simulator
// delivering its replies as a USB adapter does (--adapter-latency: a 62-byte buffer sent when
// full or at the adapter's latency tick) at 16 ms (an FTDI's default) and at 1 ms (its timer
// with the low-latency flag set). Beside each: the kernel drains and write() calls per page.
//
// Run: bin/download_bench [BAUD [RUNS]]  (57600, 5 runs of each)
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "platform/posix/PosixSerialPort.h"
#include "platform/qt/QtEventLoop.h"
#include "protocol/wire.h"
#include "shell/core/Engine.h"
#include "support/Inside.h"
#include "support/TargetSimProcess.h"

namespace {

using namespace bm;

constexpr int kImageBytes = 32 * 1024;
constexpr int kPageWords = 64;
constexpr int kPageBytes = 2 * kPageWords;
constexpr double kPageOpMs = 4.5;
constexpr double kBitsPerByte = WIRE_BITS_PER_FRAME;

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

struct Run {
  double seconds = 0;
  SerialPort::Counts counts;
  bool ok = false;
};

// One download of the image into a fresh paced simulator started with `extra` options.
Run Download(int baud, const std::vector<std::string>& extra) {
  std::vector<std::string> options{
      "--paced", "--flash-words", std::to_string(kImageBytes / 2), "--boot-words",
      "0",       "--page-words",  std::to_string(kPageWords)};
  options.insert(options.end(), extra.begin(), extra.end());
  test::TargetSimProcess sim(options);
  if (!sim.Started()) {
    std::fprintf(stderr, "brindlemark-target-sim did not start:\n%s", sim.StderrText().c_str());
    return {};
  }
  posix::PosixSerialService ports(false, {sim.Device()});
  qt::QtEventLoop loop;
  Engine engine(loop, ports);
  for (int i = 0; i < kImageBytes; ++i)
    test::Inside(engine).g.FlashArr[i] = static_cast<uint8_t>((i * 7 + 1) % 251);
  test::Inside(engine).g.FBytesRead = kImageBytes;
  test::Inside(engine).g.OrgID = 0;
  test::Inside(engine).g.OrgBootID = -1;
  engine.SetBaudRate(baud);
  if (engine.Search().outcome != SearchOutcome::Found) {
    std::fprintf(stderr, "no target found\n");
    return {};
  }
  const SerialPort::Counts before = test::Inside(engine).ComPort.LineCounts();
  const auto t0 = std::chrono::steady_clock::now();
  // As the command-line tool runs: search and run in one go, no second identification.
  RunRequest request;
  request.eeprom = false;
  request.identifyAgain = false;
  const RunReport report = engine.Download(request);
  const auto t1 = std::chrono::steady_clock::now();
  const SerialPort::Counts after = test::Inside(engine).ComPort.LineCounts();
  sim.Stop();
  return {
      Seconds(t1 - t0), {after.writes - before.writes, after.drains - before.drains}, report.result.Clean()};
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int baud = argc > 1 ? std::atoi(argv[1]) : 57600;
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

  // What the protocol needs for this image: "?" + last-page "A"/"E", then per page
  // "A" lo hi, "E", "D" + page, "P"; replies "KW", two acks, then per page three acks and a checksum.
  const int pages = kImageBytes / kPageBytes;
  const double hostBytes = 1 + 4 + pages * (3 + 1 + 1 + kPageBytes + 1);
  const double targetBytes = 2 + 2 + pages * 4;
  const double byteMs = 1000 * kBitsPerByte / baud;
  const double lineMs = (hostBytes + targetBytes) * byteMs;
  const double pageMs = (2 * pages + 1) * kPageOpMs;
  const double floorS = (lineMs + pageMs) / 1000;

  std::printf("download of %d bytes (%d pages of %d bytes) at %d baud\n", kImageBytes, pages, kPageBytes,
              baud);
  std::printf("  wire floor                  : %7.3f s  (line %.3f s for %.0f + %.0f bytes, pages %.3f s)\n",
              floorS, lineMs / 1000, hostBytes, targetBytes, pageMs / 1000);
  const struct {
    const char* name;
    std::vector<std::string> options;
  } lines[] = {
      {"paced pseudo-terminal       ", {}},
      {"adapter model, 16 ms latency", {"--adapter-latency", "16"}},
      {"adapter model,  1 ms latency", {"--adapter-latency", "1"}},
  };
  // Each line's runs take turns with the others', so all of them see the same machine; the
  // median is shown, with the fastest and slowest run beside it.
  constexpr size_t kLines = std::size(lines);
  std::vector<Run> runs[kLines];
  bool ok = true;
  for (int r = 0; r < repeats; ++r) {
    for (size_t i = 0; i < kLines; ++i) {
      runs[i].push_back(Download(baud, lines[i].options));
      ok &= runs[i].back().ok;
    }
  }
  std::printf("  (median of %d runs each, fastest and slowest in brackets)\n", repeats);
  for (size_t i = 0; i < kLines; ++i) {
    std::vector<Run> sorted = runs[i];
    std::sort(sorted.begin(), sorted.end(), [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
    const Run& median = sorted[sorted.size() / 2];
    const bool allOk = std::all_of(sorted.begin(), sorted.end(), [](const Run& run) { return run.ok; });
    std::printf("  %s: %7.3f s  %5.3f x floor [%5.3f, %5.3f]  drains/page %.2f  write()/page %.1f%s\n",
                lines[i].name, median.seconds, median.seconds / floorS, sorted.front().seconds / floorS,
                sorted.back().seconds / floorS, static_cast<double>(median.counts.drains) / pages,
                static_cast<double>(median.counts.writes) / pages, allOk ? "" : "  FAILED");
  }
  return ok ? 0 : 1;
}
