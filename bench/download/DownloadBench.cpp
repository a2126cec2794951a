// How close a download comes to what the line allows.
//
// A 32 KiB image (every page holds data) goes through the real Qt serial port into
// brindlemark-target-sim --paced on a pseudo-terminal: the simulator lets each byte take 11 bit
// times at the set rate and each page erase or write 4.5 ms. The floor is what the protocol
// itself needs for the same image: every byte each way at 11 bits, plus the page times. The
// run's wall time is printed beside it, with an estimate of the same sequence on a USB adapter
// (a pseudo-terminal cannot show that cost).
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/qt/QtEventLoop.h"
#include "platform/qt/QtSerialPort.h"
#include "protocol/wire.h"
#include "shell/core/HeadlessDisplay.h"
#include "shell/core/Main.h"
#include "support/TargetSimProcess.h"

namespace {

using namespace bm;

constexpr int kImageBytes = 32 * 1024;
constexpr int kPageWords = 64;
constexpr int kPageBytes = 2 * kPageWords;
constexpr double kPageOpMs = 4.5;
constexpr double kBitsPerByte = WIRE_BITS_PER_FRAME;
constexpr double kUsbDrainMs = 1.0;   // one USB frame per drained byte
constexpr double kUsbLatencyMs = 16;  // FTDI latency timer, default

class PrintingDialogs : public Dialogs {
 public:
  void MessageBox(const std::string& text) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    ++shown;
  }
  std::optional<std::string> OpenFile(const std::vector<FileKind>&) override { return std::nullopt; }
  int shown = 0;
};

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int baud = argc > 1 ? std::atoi(argv[1]) : 57600;

  test::TargetSimProcess sim({"--paced", "--flash-words", std::to_string(kImageBytes / 2), "--boot-words",
                              "0", "--page-words", std::to_string(kPageWords)});
  if (!sim.Started()) {
    std::fprintf(stderr, "brindlemark-target-sim did not start:\n%s", sim.StderrText().c_str());
    return 1;
  }

  qt::QtSerialService ports(false, {sim.Device()});
  qt::QtEventLoop loop;
  HeadlessDisplay display;
  PrintingDialogs dialogs;
  Main main(display, dialogs, loop, ports);
  main.Open();
  for (int i = 0; i < kImageBytes; ++i) main.g.FlashArr[i] = static_cast<uint8_t>((i * 7 + 1) % 251);
  main.g.FBytesRead = kImageBytes;
  main.g.OrgID = 0;
  main.g.OrgBootID = -1;
  main.g.Modus = Mode::FileLoaded;
  display.SetCheckValue(Check::ProgFlashChk, true);
  main.ComPort.SetBaudRate(baud);

  const auto t0 = std::chrono::steady_clock::now();
  main.ComportBtn_Action();
  const auto t1 = std::chrono::steady_clock::now();
  if (main.ModeNumber() != 2) {
    std::fprintf(stderr, "no target found\n");
    return 1;
  }
  main.DownLdBtn_Action();
  const auto t2 = std::chrono::steady_clock::now();
  sim.Stop();
  if (dialogs.shown > 0) return 1;

  // What the protocol needs for this image: "?" + last-page "A"/"E", then per page
  // "A" lo hi, "E", "D" + page, "P"; replies "KW", two acks, then per page three acks and a checksum.
  const int pages = kImageBytes / kPageBytes;
  const double hostBytes = 1 + 4 + pages * (3 + 1 + 1 + kPageBytes + 1);
  const double targetBytes = 2 + 2 + pages * 4;
  const double byteMs = 1000 * kBitsPerByte / baud;
  const double lineMs = (hostBytes + targetBytes) * byteMs;
  const double pageMs = (2 * pages + 1) * kPageOpMs;
  const double floorS = (lineMs + pageMs) / 1000;
  const double measuredS = Seconds(t2 - t1);

  // On a USB adapter each drained "D" byte costs about a frame (the line time, if longer), and
  // every reply waits for the adapter's latency timer before the host sees it.
  const double replies = 2 + 1 + pages * 4;
  const double usbS =
      (pages * kPageBytes * std::max(kUsbDrainMs, byteMs) +
       (hostBytes - pages * kPageBytes + targetBytes) * byteMs + replies * kUsbLatencyMs + pageMs) /
      1000;

  std::printf("download of %d bytes (%d pages of %d bytes) at %d baud\n", kImageBytes, pages, kPageBytes,
              baud);
  std::printf("  search + identification : %7.3f s\n", Seconds(t1 - t0));
  std::printf("  download measured       : %7.3f s\n", measuredS);
  std::printf("  protocol floor          : %7.3f s  (line %.3f s for %.0f + %.0f bytes, pages %.3f s)\n",
              floorS, lineMs / 1000, hostBytes, targetBytes, pageMs / 1000);
  std::printf("  measured / floor        : %7.3f\n", measuredS / floorS);
  std::printf(
      "  estimate on a USB adapter (%.0f ms per drained byte, %.0f ms latency timer): %.1f s (%.1f x "
      "floor)\n",
      kUsbDrainMs, kUsbLatencyMs, usbS, usbS / floorS);
  return 0;
}
