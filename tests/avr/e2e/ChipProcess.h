// One emulated chip (the avr-chip harness) for a test: started in a private
// temporary folder, reachable on its own pseudo-terminal, and stopped with
// SIGTERM to collect what it wrote: flash, EEPROM, the report and the
// transcript of everything the chip sent.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace avrtest {

struct ChipConfig {
  std::string mcu;                 // as avr-gcc names the part (atmega328p, atmega1284p, ...)
  std::string app;                 // optional .hex placed in the application section at start
  unsigned corruptWrite = 0;       // the n-th page write leaves a flipped bit (avr-chip --corrupt-write)
  std::string loader;              // a shipped loader image instead of the tests' own (loaderHex)
  unsigned long freq = 0;          // the chip's clock when not the tests' 16 MHz
  std::vector<std::string> extra;  // more avr-chip options (faults, noise, --run-for)
};

struct ChipState {
  std::vector<uint8_t> flash;
  std::vector<uint8_t> eeprom;
  std::map<std::string, uint64_t> report;  // faults, page_erases, page_writes, eeprom_writes, ...
  std::string harnessLog;                  // the harness's stderr: one line per fault
};

class ChipProcess {
 public:
  explicit ChipProcess(const ChipConfig &config);
  ~ChipProcess();
  ChipProcess(const ChipProcess &) = delete;
  ChipProcess &operator=(const ChipProcess &) = delete;

  bool started() const { return !port_.empty(); }
  const std::string &port() const { return port_; }
  const std::string &startError() const { return startError_; }

  // Waits until the chip has sent text (true) or the time is up (false).
  bool waitForOutput(const std::string &text, double seconds) const;
  std::string transcript() const;

  // Ends the emulation and reads its results; later calls return the same.
  const ChipState &stop();

  static std::string loaderHex(const std::string &mcu);

 private:
  std::string file(const char *name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::string port_;
  std::string startError_;
  pid_t pid_ = -1;
  ChipState state_;
};

}  // namespace avrtest
