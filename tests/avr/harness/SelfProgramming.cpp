#include "SelfProgramming.h"

#include <simavr/avr_eeprom.h>
#include <simavr/avr_flash.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_cycle_timers.h>
#include <simavr/sim_io.h>
#include <simavr/sim_time.h>

#include <cstring>

namespace avrchip {
namespace {

// SPMCSR bits; the same positions on the ATmega328P and the ATmega1284P.
constexpr uint8_t SPMEN = 1 << 0, PGERS = 1 << 1, PGWRT = 1 << 2, BLBSET = 1 << 3, RWWSRE = 1 << 4,
                  SIGRD = 1 << 5, RWWSB = 1 << 6;
constexpr uint8_t kCommandBits = SPMEN | PGERS | PGWRT | BLBSET | RWWSRE | SIGRD;
constexpr uint8_t EERE = 1 << 0, EEPE = 1 << 1;
constexpr int kZL = 30, kZH = 31;

SelfProgramming *self(void *param) { return static_cast<SelfProgramming *>(param); }

avr_io_t *findIo(avr_t *avr, const char *kind) {
  for (avr_io_t *io = avr->io_port; io; io = io->next)
    if (std::strcmp(io->kind, kind) == 0) return io;
  return nullptr;
}

// One process emulates one chip, so the ioctl hook (which gets no user
// pointer of ours) can find its model here.
SelfProgramming *g_model = nullptr;

int spmIoctl(avr_io_t *, uint32_t ctl, void *) {
  if (ctl != AVR_IOCTL_FLASH_SPM) return -1;
  g_model->spmExecuted();
  return 0;
}

void spmcsrWrite(avr_t *, avr_io_addr_t, uint8_t v, void *param) { self(param)->spmcsrWritten(v); }
void eecrWrite(avr_t *, avr_io_addr_t addr, uint8_t v, void *param) { self(param)->eecrWritten(addr, v); }

avr_cycle_count_t flashDone(avr_t *, avr_cycle_count_t, void *param) {
  self(param)->flashOperationDone();
  return 0;
}
avr_cycle_count_t spmWindow(avr_t *, avr_cycle_count_t, void *param) {
  self(param)->spmWindowExpired();
  return 0;
}
avr_cycle_count_t eepromDone(avr_t *, avr_cycle_count_t, void *param) {
  self(param)->eepromWriteDone();
  return 0;
}

avr_cycle_count_t msToCycles(avr_t *avr, double ms) {
  return avr_cycle_count_t(avr->frequency * ms / 1000.0);
}

}  // namespace

SelfProgramming::SelfProgramming(avr_t *avr, Faults &faults, uint32_t bootStart, uint32_t nrwwStart)
    : avr_(avr),
      faults_(faults),
      bootStart_(bootStart),
      nrwwStart_(nrwwStart),
      pageSize_(0),
      flashSize_(avr->flashend + 1) {
  g_model = this;
  flash_ = reinterpret_cast<avr_flash_t *>(findIo(avr, "flash"));
  eeprom_ = reinterpret_cast<avr_eeprom_t *>(findIo(avr, "eeprom"));
  pageSize_ = flash_->spm_pagesize;
  pageBuffer_.assign(pageSize_, 0xFF);
  pageBufferLoaded_.assign(pageSize_ / 2, false);

  flash_->io.ioctl = spmIoctl;
  // Replace simavr's SPMCSR handler outright: its 4-cycle SPMEN timeout is
  // a private function we could not cancel once an operation is running.
  auto &spm = avr->io[AVR_DATA_TO_IO(flash_->r_spm)].w;
  spm.c = spmcsrWrite;
  spm.param = this;

  auto &ee = avr->io[AVR_DATA_TO_IO(eeprom_->r_eecr)].w;
  eecrOriginal_ = ee.c;
  eecrOriginalParam_ = ee.param;
  ee.c = eecrWrite;
  ee.param = this;
}

uint8_t SelfProgramming::spmcsr() const { return avr_->data[flash_->r_spm]; }
void SelfProgramming::setSpmcsr(uint8_t value) { avr_->data[flash_->r_spm] = value; }

void SelfProgramming::clearPageBuffer() {
  pageBuffer_.assign(pageSize_, 0xFF);
  pageBufferLoaded_.assign(pageSize_ / 2, false);
}

void SelfProgramming::spmcsrWritten(uint8_t value) {
  if (pending_ != Pending::None) {
    faults_.report("SPMCSR written (0x%02X) while a flash operation is running", value);
    return;
  }
  // RWWSB is read-only; the command bits live for four cycles unless an
  // SPM follows.
  setSpmcsr(uint8_t((value & ~RWWSB) | (rwwBusy_ ? RWWSB : 0)));
  avr_cycle_timer_cancel(avr_, spmWindow, this);
  if (value & SPMEN) avr_cycle_timer_register(avr_, 4, spmWindow, this);
}

void SelfProgramming::spmWindowExpired() {
  if (pending_ == Pending::None) setSpmcsr(uint8_t(spmcsr() & ~kCommandBits));
}

void SelfProgramming::spmExecuted() {
  const uint8_t command = spmcsr();
  avr_cycle_timer_cancel(avr_, spmWindow, this);
  if (pending_ != Pending::None) {
    faults_.report("SPM at 0x%05X while a flash operation is running", unsigned(avr_->pc));
    return;
  }
  setSpmcsr(uint8_t(command & ~kCommandBits));
  if (!(command & SPMEN)) return;  // SPM without SPMEN does nothing
  if (avr_->pc < bootStart_) {
    faults_.report("SPM executed at 0x%05X, outside the boot section (0x%05X): ignored", unsigned(avr_->pc),
                   unsigned(bootStart_));
    return;
  }
  if (eepromBusy_) {
    faults_.report("SPM while an EEPROM write is running: ignored");
    return;
  }

  uint32_t z = avr_->data[kZL] | avr_->data[kZH] << 8;
  if (avr_->rampz) z |= uint32_t(avr_->data[avr_->rampz]) << 16;
  z %= flashSize_;
  const uint32_t page = z & ~(pageSize_ - 1);

  if (command & (PGERS | PGWRT)) {
    if (page >= bootStart_) {
      faults_.report("%s of page 0x%05X inside the boot section refused by the lock bits",
                     command & PGERS ? "erase" : "write", unsigned(page));
      return;
    }
    pending_ = command & PGERS ? Pending::Erase : Pending::Write;
    pendingPage_ = page;
    if (page < nrwwStart_) rwwBusy_ = true;
    rwwReported_ = false;
    setSpmcsr(uint8_t(spmcsr() | SPMEN | (rwwBusy_ ? RWWSB : 0)));
    avr_cycle_timer_register(avr_, msToCycles(avr_, kFlashWriteMs), flashDone, this);
  } else if (command & RWWSRE) {
    rwwBusy_ = false;
    setSpmcsr(uint8_t(spmcsr() & ~RWWSB));
    clearPageBuffer();
  } else if (command & (BLBSET | SIGRD)) {
    faults_.report("lock bit or signature access by SPM is not modelled");
  } else {
    // Page buffer fill: Z's in-page bits pick the word.
    const uint32_t offset = z & (pageSize_ - 1) & ~1u;
    if (pageBufferLoaded_[offset / 2])
      faults_.report("page buffer word 0x%02X filled twice without a write", unsigned(offset));
    pageBufferLoaded_[offset / 2] = true;
    pageBuffer_[offset] &= avr_->data[0];
    pageBuffer_[offset + 1] &= avr_->data[1];
  }
}

void SelfProgramming::flashOperationDone() {
  uint8_t *flash = avr_->flash + pendingPage_;
  if (pending_ == Pending::Erase) {
    std::memset(flash, 0xFF, pageSize_);
    ++counts_.pageErases;
  } else {
    unsigned stuck = 0;
    for (uint32_t i = 0; i < pageSize_; ++i) {
      if (pageBuffer_[i] & ~flash[i]) ++stuck;
      flash[i] &= pageBuffer_[i];  // programming can only clear bits
    }
    if (stuck)
      faults_.report("write of page 0x%05X over %u unerased bytes: bits stayed 0", unsigned(pendingPage_),
                     stuck);
    clearPageBuffer();
    ++counts_.pageWrites;
    if (counts_.pageWrites == corruptWrite_) flash[0] ^= 0x01;
    for (const Stuck &s : stuck_)
      if (s.byte >= pendingPage_ && s.byte < pendingPage_ + pageSize_) avr_->flash[s.byte] &= s.mask;
  }
  pending_ = Pending::None;
  setSpmcsr(uint8_t(spmcsr() & ~kCommandBits));
}

void SelfProgramming::checkExecution() {
  if (rwwBusy_ && avr_->pc < nrwwStart_ && !rwwReported_) {
    rwwReported_ = true;
    faults_.report("code runs at 0x%05X while the RWW section is %s", unsigned(avr_->pc),
                   pending_ != Pending::None ? "being programmed" : "not re-enabled (RWWSRE)");
  }
}

void SelfProgramming::eecrWritten(uint16_t addr, uint8_t value) {
  if (eepromBusy_) {
    if (value & (EEPE | EERE))
      faults_.report("EEPROM %s while a write is running: ignored", value & EEPE ? "write" : "read");
    avr_->data[addr] = uint8_t((value & ~(EEPE | EERE)) | EEPE);
    return;
  }
  const bool starting = (avr_->data[addr] & (1 << 2) /* EEMPE */) && (value & EEPE);
  if (starting && pending_ != Pending::None) {
    faults_.report("EEPROM write started while a flash operation is running: ignored");
    avr_->data[addr] = uint8_t(value & ~EEPE);
    return;
  }
  const unsigned at =
      avr_->data[eeprom_->r_eearl] | (eeprom_->r_eearh ? avr_->data[eeprom_->r_eearh] << 8 : 0);
  const bool lose = starting && counts_.eepromWrites + 1 == loseEepromWrite_ && at < eeprom_->size;
  const uint8_t before = lose ? eeprom_->eeprom[at] : 0;
  eecrOriginal_(avr_, addr, value, eecrOriginalParam_);
  if (lose) eeprom_->eeprom[at] = before;
  if (starting) {
    eepromBusy_ = true;
    ++counts_.eepromWrites;
    avr_->data[addr] |= EEPE;
    avr_cycle_timer_register(avr_, msToCycles(avr_, kEepromWriteMs), eepromDone, this);
  }
}

void SelfProgramming::eepromWriteDone() {
  eepromBusy_ = false;
  avr_->data[eeprom_->r_eecr] &= uint8_t(~EEPE);
}

}  // namespace avrchip
