// Self-programming (SPM) and EEPROM writes as the ATmega328P/1284P datasheets
// describe them, in place of simavr 1.6's simplified handling.
//
// simavr 1.6 completes a page erase or write at once, copies the page buffer
// over flash instead of clearing bits, fills the page buffer straight into
// flash, ignores page alignment, drops RAMPZ from the address (its Z is 16
// bits), accepts SPM from anywhere and never sets RWWSB; its EEPROM write is
// instant and EEPE never reads back as set. This unit takes over the SPMCSR
// register and the SPM instruction and wraps the EECR handler so that:
//  - SPM only acts when executed from the boot section (BOOTSZ as given);
//  - the boot section itself is locked against SPM (as with BLB1 = 10), so a
//    loader that tries to overwrite itself shows as a fault, not a crash;
//  - page fills go to a separate page buffer, indexed by Z's in-page bits;
//  - erase and write address the page that contains Z (24-bit with RAMPZ)
//    and keep SPMEN set for kFlashWriteMs; a write ANDs the buffer into
//    flash, so writing over an unerased page leaves the bits that a missing
//    erase would leave (and is reported);
//  - RWWSB is set by an erase or write of the RWW section and cleared only
//    by an RWWSRE command; code running in the RWW section while it is set
//    is reported (the real part would fetch garbage);
//  - an EEPROM write keeps EEPE set for kEepromWriteMs; another write, a
//    read or SPM during that time is reported.
// Not modelled: the CPU halt during NRWW writes (a loader busy-waits through
// it either way), lock and fuse bit writes, the signature row.
#pragma once

#include <cstdint>
#include <vector>

#include "Faults.h"

struct avr_t;
struct avr_flash_t;
struct avr_eeprom_t;

namespace avrchip {

constexpr double kFlashWriteMs = 4.5;   // tWD_FLASH, datasheet maximum
constexpr double kEepromWriteMs = 3.4;  // tWD_EEPROM

struct SelfProgrammingCounts {
  unsigned pageErases = 0;
  unsigned pageWrites = 0;
  unsigned eepromWrites = 0;
};

class SelfProgramming {
 public:
  // bootStart: byte address where the boot section begins; nrwwStart: the
  // first byte of the no-read-while-write section.
  SelfProgramming(avr_t *avr, Faults &faults, uint32_t bootStart, uint32_t nrwwStart);

  // Called after each instruction: reports code running from the RWW
  // section while that section is still busy or not re-enabled.
  void checkExecution();

  const SelfProgrammingCounts &counts() const { return counts_; }

  // A cell that does not take: the n-th page write (1-based; 0: none) leaves the first bit of
  // its page flipped, and the firmware is not told. Only a check of the flash finds it.
  void corruptWrite(unsigned n) { corruptWrite_ = n; }
  // The n-th EEPROM write does not take (the byte keeps its old value), as when the supply dips.
  void loseEepromWrite(unsigned n) { loseEepromWrite_ = n; }
  // A flash bit that stays 0 whatever is programmed: a worn or damaged cell.
  void stuckAtZero(uint32_t byte, unsigned bit) { stuck_.push_back({byte, uint8_t(~(1u << bit))}); }

  // Completes an erase or write still in progress, as a chip does that keeps its power a few
  // milliseconds after the host left: before the flash is written out at the end of a run.
  void completePending() {
    if (pending_ != Pending::None) flashOperationDone();
  }

  // Hook entry points (static trampolines call these).
  void spmcsrWritten(uint8_t value);
  void spmExecuted();
  void eecrWritten(uint16_t addr, uint8_t value);
  void flashOperationDone();
  void spmWindowExpired();
  void eepromWriteDone();

 private:
  enum class Pending { None, Erase, Write };

  uint8_t spmcsr() const;
  void setSpmcsr(uint8_t value);
  void clearPageBuffer();

  avr_t *avr_;
  Faults &faults_;
  avr_flash_t *flash_ = nullptr;
  avr_eeprom_t *eeprom_ = nullptr;
  uint32_t bootStart_, nrwwStart_, pageSize_, flashSize_;
  std::vector<uint8_t> pageBuffer_;
  std::vector<bool> pageBufferLoaded_;
  Pending pending_ = Pending::None;
  uint32_t pendingPage_ = 0;
  bool rwwBusy_ = false;      // RWWSB
  bool rwwReported_ = false;  // one report per busy period, not one per instruction
  bool eepromBusy_ = false;
  void (*eecrOriginal_)(avr_t *, uint16_t, uint8_t, void *) = nullptr;
  void *eecrOriginalParam_ = nullptr;
  SelfProgrammingCounts counts_;
  unsigned corruptWrite_ = 0;
  unsigned loseEepromWrite_ = 0;
  struct Stuck {
    uint32_t byte;
    uint8_t mask;
  };
  std::vector<Stuck> stuck_;
};

}  // namespace avrchip
