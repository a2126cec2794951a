// Bridges the emulated USART0 to a pseudo-terminal of its own, at the pace
// of a real serial line.
//
// The pty is raw, without echo, set to 8N2 at the chip's nominal rate;
// several harnesses can run side by side because each gets its own pty
// (its path is handed to the caller, no fixed link name is used).
//
// Timing follows the line, in emulated cycles: a byte from the host starts
// its frame when the previous one has ended and reaches the USART one frame
// time later; a byte the firmware writes to UDR reaches the host one frame
// time after that. The frame time is computed from the host's line settings
// for the host's bytes and from the USART registers (UBRR, U2X, UCSZ, UPM,
// USBS) for the chip's, whenever they are needed; simavr 1.6 computes it
// only when UBRRnL is written, always counts a parity bit, and so ignores a
// frame format written after the rate.
//
// What real silicon would do and simavr does not, reported as faults:
//  - the USART holds two received bytes plus one in the shift register; a
//    byte whose start bit arrives while three are unread is lost (overrun),
//    where simavr would queue 64;
//  - a host whose rate differs from the chip's by more than 4.5 %, or that
//    uses other than 8 data bits without parity, delivers garbage; such
//    bytes are dropped.
// simavr 1.6 also clears UDRE when the transmitter is disabled and does not
// set it again when it is enabled, so an application that starts after a
// loader that switched USART0 off would wait for UDRE for ever; on silicon
// UDRE stays set while the transmit buffer is empty. That is put right here.
//
// While no program has the pty's other end open, the chip's output is
// dropped, as a real port that nobody has open would drop it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

#include "Faults.h"

struct avr_t;
struct avr_uart_t;
struct avr_irq_t;

namespace avrchip {

class UartBridge {
 public:
  UartBridge(avr_t *avr, Faults &faults, unsigned nominalBaud);
  ~UartBridge();

  const std::string &ptyPath() const { return ptyPath_; }
  int ptyFd() const { return master_; }
  bool hostConnected() const { return hostConnected_; }

  // Every byte the chip sends is appended here as well (nullptr: none).
  void setTranscript(std::FILE *file) { transcript_ = file; }

  // Moves bytes between the pty and the line; call often (each emulated
  // millisecond or so).
  void service();

  // Hook entry points.
  void chipSent(uint8_t byte);
  void controlWritten(uint16_t addr, uint8_t value);
  uint64_t deliverNext();  // next delivery cycle, 0 when the line is idle

  // Cycle at which the last byte now waiting for the line will start its
  // frame (0 when none waits behind the one on the line).
  uint64_t lastQueuedStart() const;

  // Random bytes on the line at the chip's own rate until emulated cycle `until`: mostly back to
  // back, now and then after a pause of up to 200 frames (a GPS module, a cable being plugged).
  // The same seed gives the same noise. A byte the chip has no room for is lost without a fault.
  void startNoise(uint32_t seed, uint64_t until);
  uint64_t noiseNext();  // hook entry point: the next noise byte's delay, 0 when done

  uint64_t bytesToChip() const { return bytesToChip_; }
  uint64_t bytesFromChip() const { return bytesFromChip_; }

 private:
  struct Outgoing {
    uint8_t byte;
    uint64_t dueCycle;
  };
  uint64_t chipFrameCycles() const;
  uint64_t hostFrameCycles(bool *usable) const;
  unsigned chipBaud() const;
  unsigned unreadBytes() const;

  avr_t *avr_;
  Faults &faults_;
  avr_uart_t *uart_ = nullptr;
  avr_irq_t *rxIrq_ = nullptr;
  int master_ = -1;
  std::string ptyPath_;
  bool hostConnected_ = false;
  std::deque<uint8_t> toChip_;
  bool feeding_ = false;
  uint64_t lineFreeAt_ = 0;      // cycle at which the host's line is idle again
  uint64_t hostFrame_ = 0;       // cycles per byte on the host's line
  uint64_t chipLineFreeAt_ = 0;  // cycle at which the chip's transmitter is idle again
  std::deque<Outgoing> fromChip_;
  std::FILE *transcript_ = nullptr;
  bool settingsReported_ = false;
  void (*ucsrbOriginal_)(avr_t *, uint16_t, uint8_t, void *) = nullptr;
  void *ucsrbOriginalParam_ = nullptr;

 public:
  // The ATmega32(A) keeps UBRRH and UCSRC at one address, told apart by URSEL (bit 7) on a
  // write; simavr 1.6 does not separate them. A write with URSEL set goes here, the others to
  // UBRRH as simavr has it.
  void sharedWritten(uint16_t addr, uint8_t value);

 private:
  uint8_t ucsrc() const;  // UCSRC as the chip holds it
  bool sharedUcsrc_ = false;
  uint8_t shadowUcsrc_ = 0x86;  // its reset value: 8 data bits, URSEL reads as 1
  void (*sharedOriginal_)(avr_t *, uint16_t, uint8_t, void *) = nullptr;
  void *sharedOriginalParam_ = nullptr;
  uint64_t bytesToChip_ = 0, bytesFromChip_ = 0;
  uint32_t noiseState_ = 0;
  uint64_t noiseUntil_ = 0;
  uint32_t noiseRandom();
};

}  // namespace avrchip
