// Skips the cycles a firmware spends polling USART0 for a byte, so that the
// emulation needs little CPU and keeps real time on a loaded machine (the
// host gives a reply 50 ms; an emulator starved of CPU would miss that where
// a chip never does).
//
// At each read of UCSRnA the CPU state (pc, r0-r31, SREG, SP) and the value
// read are compared with those of the previous read. When they are equal,
// the loop between the two reads changed nothing and will do the same again
// until something outside it changes: a simavr cycle timer (the USART's
// receive and transmit pumps, the chip's timers, our line and flash
// timings) or a byte from the host. The cycle count may then jump to the
// next timer or to the caller's limit, whichever is first. A loop that
// counts in RAM (not in registers) while it polls would see its count
// stall; our loader times out with Timer1's compare flag instead.
#pragma once

#include <array>
#include <cstdint>

struct avr_t;

namespace avrchip {

class IdleSkip {
 public:
  explicit IdleSkip(avr_t *avr);

  // After an instruction: if the firmware is idling, advance the cycle
  // count, never beyond limit. Returns the cycles skipped.
  uint64_t skip(uint64_t limit);

  uint8_t statusRead(uint16_t addr);  // hook

 private:
  using Snapshot = std::array<uint8_t, 32 + 4>;  // registers, SREG, SPL, SPH, value read
  Snapshot snapshot(uint8_t value) const;

  avr_t *avr_;
  uint8_t (*original_)(avr_t *, uint16_t, void *) = nullptr;
  void *originalParam_ = nullptr;
  Snapshot last_{};
  uint32_t lastPc_ = ~0u;
  bool idle_ = false;
};

}  // namespace avrchip
