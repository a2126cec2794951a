#include "IdleSkip.h"

#include <simavr/avr_uart.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_cycle_timers.h>

#include <cstring>

namespace avrchip {
namespace {

constexpr uint16_t kSpl = 0x5D, kSph = 0x5E;

uint8_t statusHook(avr_t *, avr_io_addr_t addr, void *param) {
  return static_cast<IdleSkip *>(param)->statusRead(addr);
}

avr_uart_t *findUart0(avr_t *avr) {
  for (avr_io_t *io = avr->io_port; io; io = io->next)
    if (std::strcmp(io->kind, "uart") == 0 && reinterpret_cast<avr_uart_t *>(io)->name == '0')
      return reinterpret_cast<avr_uart_t *>(io);
  return nullptr;
}

}  // namespace

IdleSkip::IdleSkip(avr_t *avr) : avr_(avr) {
  avr_uart_t *uart = findUart0(avr);
  if (!uart) return;
  auto &r = avr->io[AVR_DATA_TO_IO(uart->r_ucsra)].r;
  original_ = r.c;
  originalParam_ = r.param;
  r.c = statusHook;
  r.param = this;
}

IdleSkip::Snapshot IdleSkip::snapshot(uint8_t value) const {
  Snapshot s;
  std::memcpy(s.data(), avr_->data, 32);
  // SREG lives in simavr's sreg[] array while the core runs.
  uint8_t sreg = 0;
  for (int i = 0; i < 8; ++i) sreg |= uint8_t((avr_->sreg[i] ? 1 : 0) << i);
  s[32] = sreg;
  s[33] = avr_->data[kSpl];
  s[34] = avr_->data[kSph];
  s[35] = value;
  return s;
}

uint8_t IdleSkip::statusRead(uint16_t addr) {
  const uint8_t value = original_ ? original_(avr_, addr, originalParam_) : avr_->data[addr];
  const Snapshot now = snapshot(value);
  idle_ = avr_->pc == lastPc_ && now == last_;
  last_ = now;
  lastPc_ = avr_->pc;
  return value;
}

uint64_t IdleSkip::skip(uint64_t limit) {
  if (!idle_) return 0;
  idle_ = false;
  uint64_t until = limit;
  for (auto *t = avr_->cycle_timers.timer; t; t = t->next)
    if (t->when < until) until = t->when;
  if (until <= avr_->cycle) return 0;
  const uint64_t skipped = until - avr_->cycle;
  avr_->cycle = until;
  return skipped;
}

}  // namespace avrchip
