// avr-chip: one emulated ATmega328P or ATmega1284P running our bootloader,
// reachable over a pseudo-terminal, for the end-to-end tests.
//
// The chip starts at the loader's first address, as with the BOOTRST fuse
// set; the boot section begins there. Emulated time is paced to the wall
// clock, so the serial line, flash and EEPROM timings cost what they cost on
// a real part. On SIGTERM, SIGINT or --timeout the harness writes the flash
// and EEPROM contents and a report (key=value lines) and exits.
//
// usage: avr-chip --mcu atmega328p --loader boot.hex [--app app.hex]
//                 [--freq HZ] [--baud N] [--pty-path-file F] [--flash-out F]
//                 [--eeprom-out F] [--transcript F] [--report F] [--timeout S]
//                 [--strict-line 1] [--follow-host 0]
#include <poll.h>
#include <simavr/avr_eeprom.h>
#include <simavr/avr_ioport.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_io.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Faults.h"
#include "HostWatch.h"
#include "IdleSkip.h"
#include "SelfProgramming.h"
#include "UartBridge.h"
#include "support/IntelHex.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string mcu, loader, app, ptyPathFile, flashOut, eepromOut, transcript, report;
  unsigned long freq = 16000000;
  unsigned baud = 57600;
  double timeoutSeconds = 0;
  bool strictLine = false;               // no line-time compression (see the run loop)
  bool followHost = true;                // hold the clock while the host waits for a CPU (HostWatch.h)
  unsigned corruptWrite = 0;             // the N-th page write leaves its first bit flipped (0: none)
  unsigned loseEepromWrite = 0;          // the N-th EEPROM write does not take (0: none)
  std::vector<std::string> stuckAtZero;  // "BYTE:BIT": flash bits that stay 0
  std::string pinLow;                    // "D4": a pin held low from reset (an LED to ground)
  double noiseSeconds = 0;               // random bytes on the line from reset for this long
  uint32_t noiseSeed = 1;
  double runFor = 0;  // > 0: run this long in emulated time, unpaced, then end
};

struct McuFacts {
  const char *name;    // as avr-gcc names the part
  const char *simavr;  // the core simavr runs: the part itself or its signature-identical twin
  uint32_t nrwwStart;  // first byte of the no-read-while-write section
};
constexpr McuFacts kMcus[] = {
    {"atmega328p", "atmega328p", 0x7000},   {"atmega1284p", "atmega1284p", 0x1E000},
    {"atmega168pa", "atmega168pa", 0x3800}, {"atmega644pa", "atmega644p", 0xE000},
    {"atmega32a", "atmega32", 0x7000},      {"atmega128a", "atmega128", 0x1E000},
};

std::atomic<bool> g_stop{false};
void onSignal(int) { g_stop = true; }

[[noreturn]] void usage(const char *why) {
  std::fprintf(stderr, "avr-chip: %s\n", why);
  std::fprintf(stderr,
               "usage: avr-chip --mcu NAME --loader FILE.hex [--app FILE.hex] [--freq HZ] [--baud N]\n"
               "                [--pty-path-file F] [--flash-out F] [--eeprom-out F]\n"
               "                [--transcript F] [--report F] [--timeout SECONDS]\n"
               "                [--strict-line 1] [--follow-host 0] [--corrupt-write N]\n"
               "                [--lose-eeprom-write N] [--stuck-at-zero BYTE:BIT] [--pin-low D4]\n"
               "                [--noise SECONDS] [--noise-seed N] [--run-for SECONDS]\n");
  std::exit(2);
}

Options parse(int argc, char **argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) usage(("missing value after " + arg).c_str());
    const char *v = argv[++i];
    if (arg == "--mcu")
      o.mcu = v;
    else if (arg == "--loader")
      o.loader = v;
    else if (arg == "--app")
      o.app = v;
    else if (arg == "--freq")
      o.freq = std::strtoul(v, nullptr, 0);
    else if (arg == "--baud")
      o.baud = unsigned(std::strtoul(v, nullptr, 0));
    else if (arg == "--pty-path-file")
      o.ptyPathFile = v;
    else if (arg == "--flash-out")
      o.flashOut = v;
    else if (arg == "--eeprom-out")
      o.eepromOut = v;
    else if (arg == "--transcript")
      o.transcript = v;
    else if (arg == "--report")
      o.report = v;
    else if (arg == "--timeout")
      o.timeoutSeconds = std::strtod(v, nullptr);
    else if (arg == "--strict-line")
      o.strictLine = std::strcmp(v, "0") != 0;
    else if (arg == "--follow-host")
      o.followHost = std::strcmp(v, "0") != 0;
    else if (arg == "--corrupt-write")
      o.corruptWrite = unsigned(std::strtoul(v, nullptr, 0));
    else if (arg == "--lose-eeprom-write")
      o.loseEepromWrite = unsigned(std::strtoul(v, nullptr, 0));
    else if (arg == "--stuck-at-zero")
      o.stuckAtZero.push_back(v);
    else if (arg == "--pin-low")
      o.pinLow = v;
    else if (arg == "--noise")
      o.noiseSeconds = std::strtod(v, nullptr);
    else if (arg == "--noise-seed")
      o.noiseSeed = uint32_t(std::strtoul(v, nullptr, 0));
    else if (arg == "--run-for")
      o.runFor = std::strtod(v, nullptr);
    else
      usage(("unknown option " + arg).c_str());
  }
  if (o.mcu.empty() || o.loader.empty()) usage("--mcu and --loader are required");
  return o;
}

void writeFile(const std::string &path, const void *data, size_t size) {
  if (path.empty()) return;
  // Written under a temporary name and renamed, so a reader never sees
  // half a file.
  const std::string tmp = path + ".part";
  std::FILE *f = std::fopen(tmp.c_str(), "wb");
  if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0 ||
      std::rename(tmp.c_str(), path.c_str()) != 0)
    std::fprintf(stderr, "avr-chip: cannot write %s\n", path.c_str());
}

void loadHex(avr_t *avr, const std::string &path, uint32_t from, uint32_t to) {
  std::string error;
  auto image = avrtest::readIntelHex(path, &error);
  if (!image) throw std::runtime_error(error);
  for (auto [address, value] : image->bytes) {
    if (address < from || address >= to)
      throw std::runtime_error(path + ": byte at 0x" + std::to_string(address) + " is outside its section");
    avr->flash[address] = value;
  }
}

// simavr's raw run loop calls usleep() for a sleeping core; pacing is ours.
void noSleep(avr_t *, avr_cycle_count_t) {}

int run(const Options &o) {
  const McuFacts *facts = nullptr;
  for (const auto &m : kMcus)
    if (o.mcu == m.name) facts = &m;
  if (!facts)
    usage("unsupported --mcu (atmega328p, atmega1284p, atmega168pa, atmega644pa, atmega32a, atmega128a)");

  avr_t *avr = avr_make_mcu_by_name(facts->simavr);
  if (!avr) throw std::runtime_error(std::string("simavr does not know ") + facts->simavr);
  avr_init(avr);
  avr->frequency = uint32_t(o.freq);
  avr->log = 1;  // errors only; simavr's trace output would flood the test logs
  avr->sleep = noSleep;

  std::string error;
  auto loader = avrtest::readIntelHex(o.loader, &error);
  if (!loader) throw std::runtime_error(error);
  const uint32_t bootStart = loader->lowest();
  loadHex(avr, o.loader, bootStart, avr->flashend + 1);
  if (!o.app.empty()) loadHex(avr, o.app, 0, bootStart);
  // The reset vector is the boot section's start (BOOTRST programmed);
  // codeend covers the whole flash so simavr's bad-jump check does not
  // fire when the loader jumps to an application it did not load itself.
  avr->codeend = avr->flashend;
  avr->reset_pc = bootStart;
  avr->pc = bootStart;

  avrchip::Faults faults;
  avrchip::SelfProgramming spm(avr, faults, bootStart, facts->nrwwStart);
  spm.corruptWrite(o.corruptWrite);
  spm.loseEepromWrite(o.loseEepromWrite);
  for (const std::string &stuck : o.stuckAtZero)
    spm.stuckAtZero(uint32_t(std::strtoul(stuck.c_str(), nullptr, 0)),
                    unsigned(std::strtoul(stuck.substr(stuck.find(':') + 1).c_str(), nullptr, 0)));
  if (o.pinLow.size() == 2) {
    avr_irq_t *pin = avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ(o.pinLow[0]), o.pinLow[1] - '0');
    if (!pin) usage("--pin-low: no such pin");
    avr_raise_irq(pin, 0);
  }
  avrchip::UartBridge bridge(avr, faults, o.baud);
  avrchip::IdleSkip idle(avr);
  avrchip::HostWatch host(bridge.ptyPath());
  if (o.noiseSeconds > 0) bridge.startNoise(o.noiseSeed, uint64_t(o.noiseSeconds * o.freq));

  std::unique_ptr<std::FILE, int (*)(std::FILE *)> transcript(
      o.transcript.empty() ? nullptr : std::fopen(o.transcript.c_str(), "wb"), std::fclose);
  bridge.setTranscript(transcript.get());

  // The board was powered before anyone opened the port: let the firmware
  // start (and its USART get set up) before the pty is announced.
  const uint64_t warmUp = o.freq / 50;
  while (avr->cycle < warmUp) {
    avr_run(avr);
    idle.skip(warmUp);
  }

  const std::string line = bridge.ptyPath() + "\n";
  writeFile(o.ptyPathFile, line.data(), line.size());
  std::printf("pty %s\n", bridge.ptyPath().c_str());
  std::fflush(stdout);

  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  const auto start = Clock::now();
  auto paceStart = start;
  uint64_t paceCycle = avr->cycle;
  uint64_t compressedCycles = 0;
  const uint64_t perMs = o.freq / 1000;
  // Emulated time follows the wall clock in steps of this size: finer
  // than the host's 1 ms reply polls, coarse enough not to spin.
  const uint64_t quantum = perMs / 4;
  int exitCode = 0;
  bool running = true;
  // Runs the core up to cycle `until`; a core that stopped or crashed is a fault and runs no more.
  auto emulateUntil = [&](uint64_t until) {
    while (avr->cycle < until) {
      const int state = avr_run(avr);
      spm.checkExecution();
      idle.skip(until);
      if (state == cpu_Done || state == cpu_Crashed) {
        faults.report("the core %s at 0x%05X", state == cpu_Crashed ? "crashed" : "stopped",
                      unsigned(avr->pc));
        running = false;
        return;
      }
    }
  };
  // Unpaced: nobody on the line waits on the wall clock, so emulated time runs as fast as it can.
  if (o.runFor > 0) {
    const uint64_t end = uint64_t(o.runFor * o.freq);
    while (running && avr->cycle < end) {  // to its end: a SIGTERM then only ends the program
      emulateUntil(std::min<uint64_t>(end, avr->cycle + perMs));
      bridge.service();
    }
    g_stop = true;
  }
  while (!g_stop) {
    const auto now = Clock::now();
    if (o.timeoutSeconds > 0 && now - start > std::chrono::duration<double>(o.timeoutSeconds)) {
      std::fprintf(stderr, "avr-chip: timeout after %.0f s\n", o.timeoutSeconds);
      exitCode = 3;
      break;
    }
    bridge.service();
    // Wall time in which the host wanted a CPU and had none is not the chip's (HostWatch.h).
    if (o.followHost) paceStart += host.held(now, bridge.hostConnected());
    const double elapsed = std::chrono::duration<double>(now - paceStart).count();
    uint64_t target = paceCycle + uint64_t(elapsed * o.freq);
    // A host writes a page byte by byte and waits after each for it to
    // leave the port; a real UART makes that wait last the byte's frame, a
    // pty returns at once. The host's bytes then queue up here, and the
    // reply it awaits would come a whole page of line time later than
    // with a real port. So the line time of bytes queued behind the one on
    // the line is taken as already spent, as the host would have spent it:
    // emulated time moves ahead of the wall clock by that much. The chip
    // still receives every byte one frame after the last.
    if (!o.strictLine) {
      const uint64_t lastStart = bridge.lastQueuedStart();
      if (lastStart > target) {
        compressedCycles += lastStart - target;
        paceCycle += lastStart - target;
        target = lastStart;
      }
    }
    if (running && avr->cycle + quantum <= target) {
      // Fell far behind (a loaded machine): carry on from here rather
      // than racing to catch up, which would squeeze line timings.
      if (target - avr->cycle > 200 * perMs) {
        paceStart = now;
        paceCycle = avr->cycle;
      }
      emulateUntil(std::min<uint64_t>(target, avr->cycle + perMs));
    } else if (bridge.hostConnected()) {
      pollfd p{bridge.ptyFd(), POLLIN, 0};
      poll(&p, 1, 1);
    } else {
      // Without a program on the pty the master reports a hang-up at
      // once, so poll() cannot be used to wait.
      std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
  }

  spm.completePending();
  const uint32_t flashSize = avr->flashend + 1;
  writeFile(o.flashOut, avr->flash, flashSize);
  avr_eeprom_desc_t ee{};
  // Asking for the whole EEPROM is refused (simavr checks offset + size
  // with >=), but a null buffer returns a pointer to it.
  avr_ioctl(avr, AVR_IOCTL_EEPROM_GET, &ee);
  if (ee.ee) writeFile(o.eepromOut, ee.ee, avr->e2end + 1);

  if (!o.report.empty()) {
    const auto &c = spm.counts();
    char text[640];
    const int n = std::snprintf(
        text, sizeof text,
        "faults=%u\npage_erases=%u\npage_writes=%u\neeprom_writes=%u\n"
        "bytes_to_chip=%llu\nbytes_from_chip=%llu\nboot_start=%u\ncycles=%llu\npc=%u\n"
        "line_time_taken_as_spent_ms=%llu\nhost_held_ms=%lld\n",
        faults.count(), c.pageErases, c.pageWrites, c.eepromWrites, (unsigned long long)bridge.bytesToChip(),
        (unsigned long long)bridge.bytesFromChip(), unsigned(bootStart), (unsigned long long)avr->cycle,
        unsigned(avr->pc), (unsigned long long)(compressedCycles * 1000 / o.freq),
        (long long)std::chrono::duration_cast<std::chrono::milliseconds>(host.totalHeld()).count());
    writeFile(o.report, text, size_t(n));
  }
  return exitCode;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return run(parse(argc, argv));
  } catch (const std::exception &e) {
    std::fprintf(stderr, "avr-chip: %s\n", e.what());
    return 1;
  }
}
