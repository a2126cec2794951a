#include "UartBridge.h"

#include <fcntl.h>
#include <simavr/avr_uart.h>
#include <simavr/sim_avr.h>
#include <simavr/sim_cycle_timers.h>
#include <simavr/sim_interrupts.h>
#include <simavr/sim_io.h>
#include <simavr/sim_irq.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace avrchip {
namespace {

constexpr double kRateTolerance = 0.045;
constexpr unsigned kUsartHolds = 3;  // two-byte receive buffer + shift register

UartBridge *self(void *param) { return static_cast<UartBridge *>(param); }

void outputHook(avr_irq_t *, uint32_t value, void *param) { self(param)->chipSent(uint8_t(value)); }
void ucsrbHook(avr_t *, avr_io_addr_t addr, uint8_t v, void *param) { self(param)->controlWritten(addr, v); }
void sharedHook(avr_t *, avr_io_addr_t addr, uint8_t v, void *param) { self(param)->sharedWritten(addr, v); }

avr_cycle_count_t deliverHook(avr_t *, avr_cycle_count_t, void *param) { return self(param)->deliverNext(); }
avr_cycle_count_t noiseHook(avr_t *avr, avr_cycle_count_t, void *param) {
  const uint64_t delay = self(param)->noiseNext();
  return delay ? avr->cycle + delay : 0;
}

unsigned speedToBaud(speed_t s) {
  switch (s) {
    case B1200:
      return 1200;
    case B2400:
      return 2400;
    case B4800:
      return 4800;
    case B9600:
      return 9600;
    case B19200:
      return 19200;
    case B38400:
      return 38400;
    case B57600:
      return 57600;
    case B115200:
      return 115200;
    case B230400:
      return 230400;
    case B500000:
      return 500000;
    case B1000000:
      return 1000000;
    default:
      return 0;
  }
}

speed_t baudToSpeed(unsigned baud) {
  switch (baud) {
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 115200:
      return B115200;
    case 500000:
      return B500000;
    case 1000000:
      return B1000000;
    default:
      return B57600;
  }
}

avr_uart_t *findUart0(avr_t *avr) {
  for (avr_io_t *io = avr->io_port; io; io = io->next)
    if (std::strcmp(io->kind, "uart") == 0 && reinterpret_cast<avr_uart_t *>(io)->name == '0')
      return reinterpret_cast<avr_uart_t *>(io);
  return nullptr;
}

}  // namespace

UartBridge::UartBridge(avr_t *avr, Faults &faults, unsigned nominalBaud) : avr_(avr), faults_(faults) {
  uart_ = findUart0(avr);
  if (!uart_) throw std::runtime_error("this MCU has no USART0");
  // simavr's defaults sleep 1 us on every poll of UCSRnA (which makes a
  // polling loader run hundreds of times slower than the chip) and print
  // every line the firmware sends on stdout. Neither is wanted here.
  uint32_t flags = 0;
  avr_ioctl(avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
  rxIrq_ = avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_INPUT);
  avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT), outputHook, this);

  auto &ucsrb = avr->io[AVR_DATA_TO_IO(uart_->r_ucsrb)].w;
  ucsrbOriginal_ = ucsrb.c;
  ucsrbOriginalParam_ = ucsrb.param;
  ucsrb.c = ucsrbHook;
  ucsrb.param = this;
  if (uart_->r_ucsrc == uart_->ubrrh.reg) {
    sharedUcsrc_ = true;
    auto &shared = avr->io[AVR_DATA_TO_IO(uart_->r_ucsrc)].w;
    sharedOriginal_ = shared.c;
    sharedOriginalParam_ = shared.param;
    shared.c = sharedHook;
    shared.param = this;
  }

  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
    throw std::runtime_error(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
  ptyPath_ = ptsname(master_);

  // Raw, no echo, 8N2: the settings persist while we hold the master, and
  // a program that opens the port and restores them on close gets these.
  int slave = open(ptyPath_.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  if (slave < 0 || tcgetattr(slave, &t) != 0) throw std::runtime_error("cannot configure " + ptyPath_);
  cfmakeraw(&t);
  t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB)) | CS8 | CSTOPB | CREAD | CLOCAL;
  cfsetispeed(&t, baudToSpeed(nominalBaud));
  cfsetospeed(&t, baudToSpeed(nominalBaud));
  tcsetattr(slave, TCSANOW, &t);
  close(slave);
}

UartBridge::~UartBridge() {
  if (master_ >= 0) close(master_);
}

unsigned UartBridge::chipBaud() const {
  const unsigned ubrr = avr_->data[uart_->ubrrl.reg] | (avr_->data[uart_->ubrrh.reg] & 0x0F) << 8;
  const unsigned perBit = (ubrr + 1) * (avr_regbit_get(avr_, uart_->u2x) ? 8 : 16);
  return avr_->frequency / perBit;
}

void UartBridge::sharedWritten(uint16_t addr, uint8_t value) {
  if (value & 0x80) {
    shadowUcsrc_ = value;
    return;
  }
  if (sharedOriginal_)
    sharedOriginal_(avr_, addr, value, sharedOriginalParam_);
  else
    avr_->data[addr] = value;
}

uint8_t UartBridge::ucsrc() const { return sharedUcsrc_ ? shadowUcsrc_ : avr_->data[uart_->r_ucsrc]; }

uint64_t UartBridge::chipFrameCycles() const {
  const uint8_t c = ucsrc();
  const unsigned sizeCode = ((c >> 1) & 3) | (avr_regbit_get(avr_, uart_->ucsz2) << 2);
  static const unsigned dataBits[8] = {5, 6, 7, 8, 8, 8, 8, 9};
  const unsigned bits = 1 + dataBits[sizeCode] + (((c >> 4) & 3) ? 1 : 0) + ((c & (1 << 3)) ? 2 : 1);
  const unsigned ubrr = avr_->data[uart_->ubrrl.reg] | (avr_->data[uart_->ubrrh.reg] & 0x0F) << 8;
  return uint64_t(ubrr + 1) * (avr_regbit_get(avr_, uart_->u2x) ? 8 : 16) * bits;
}

uint64_t UartBridge::hostFrameCycles(bool *usable) const {
  termios t{};
  const unsigned chip = chipBaud();
  if (tcgetattr(master_, &t) != 0) {
    *usable = false;
    return chipFrameCycles();
  }
  const unsigned host = speedToBaud(cfgetospeed(&t));
  const bool eightNone = (t.c_cflag & CSIZE) == CS8 && !(t.c_cflag & PARENB);
  *usable = host != 0 && eightNone && std::abs(double(host) - chip) <= kRateTolerance * chip;
  if (!*usable && !settingsReported_ && avr_regbit_get(avr_, uart_->rxen)) {
    const_cast<UartBridge *>(this)->settingsReported_ = true;
    faults_.report("host line is %u baud%s, chip runs %u baud 8N2: bytes dropped", host,
                   eightNone ? "" : " and not 8 data bits without parity", chip);
  }
  if (host == 0) return chipFrameCycles();
  const unsigned bits = 1 + 8 + ((t.c_cflag & PARENB) ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 2 : 1);
  return uint64_t(double(avr_->frequency) * bits / host);
}

unsigned UartBridge::unreadBytes() const {
  const auto &f = uart_->input;
  return unsigned((f.write + uart_fifo_fifo_size - f.read) & (uart_fifo_fifo_size - 1));
}

void UartBridge::service() {
  // simavr times its receive and transmit pumps by this value; keep it
  // right whatever order the firmware configured the USART in.
  uart_->cycles_per_byte = chipFrameCycles();

  uint8_t buf[256];
  for (;;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) {
      hostConnected_ = true;
      bool usable = true;
      hostFrame_ = hostFrameCycles(&usable);
      // A receiver that is off loses the bytes anyway (simavr drops them);
      // the rate only matters once the firmware has set it.
      if (usable || !avr_regbit_get(avr_, uart_->rxen)) toChip_.insert(toChip_.end(), buf, buf + n);
      continue;
    }
    if (n < 0 && errno == EAGAIN) {
      hostConnected_ = true;
    } else if (n < 0 && errno == EIO) {
      if (hostConnected_) settingsReported_ = false;  // report again for the next program
      hostConnected_ = false;
    }
    break;
  }
  if (!feeding_ && !toChip_.empty()) {
    feeding_ = true;
    const uint64_t now = avr_->cycle;
    avr_cycle_timer_register(avr_, lineFreeAt_ > now ? lineFreeAt_ - now : 1, deliverHook, this);
  }

  while (!fromChip_.empty() && fromChip_.front().dueCycle <= avr_->cycle) {
    const uint8_t byte = fromChip_.front().byte;
    fromChip_.pop_front();
    if (transcript_) {
      std::fputc(byte, transcript_);
      std::fflush(transcript_);
    }
    // A host that does not read fast enough loses bytes, as with a
    // real port whose buffer is full.
    if (hostConnected_ && write(master_, &byte, 1) < 0 && errno != EAGAIN && errno != EIO)
      faults_.report("writing to %s failed: %s", ptyPath_.c_str(), std::strerror(errno));
  }
}

uint64_t UartBridge::lastQueuedStart() const {
  if (toChip_.empty()) return 0;
  const uint64_t next = lineFreeAt_ > avr_->cycle ? lineFreeAt_ : avr_->cycle;
  return next + (toChip_.size() - 1) * hostFrame_;
}

uint64_t UartBridge::deliverNext() {
  const uint8_t byte = toChip_.front();
  toChip_.pop_front();
  ++bytesToChip_;
  if (unreadBytes() >= kUsartHolds)
    faults_.report("receiver overrun: byte 0x%02X lost (%u unread)", byte, unreadBytes());
  else
    avr_raise_irq(rxIrq_, byte);
  lineFreeAt_ = avr_->cycle + hostFrame_;
  feeding_ = !toChip_.empty();
  return feeding_ ? lineFreeAt_ : 0;  // the next start bit follows this frame
}

uint32_t UartBridge::noiseRandom() {
  // xorshift32: small, and the same sequence for a seed on every machine.
  noiseState_ ^= noiseState_ << 13;
  noiseState_ ^= noiseState_ >> 17;
  noiseState_ ^= noiseState_ << 5;
  return noiseState_;
}

void UartBridge::startNoise(uint32_t seed, uint64_t until) {
  noiseState_ = seed ? seed : 1;
  noiseUntil_ = until;
  avr_cycle_timer_register(avr_, 1, noiseHook, this);
}

uint64_t UartBridge::noiseNext() {
  if (avr_->cycle >= noiseUntil_) return 0;
  const uint32_t r = noiseRandom();
  if (unreadBytes() < kUsartHolds) avr_raise_irq(rxIrq_, r & 0xFF);
  const uint64_t frame = chipFrameCycles();
  return ((r >> 8) & 15) == 0 ? frame * (1 + (r >> 12) % 200) : frame;
}

void UartBridge::controlWritten(uint16_t addr, uint8_t value) {
  if (ucsrbOriginal_)
    ucsrbOriginal_(avr_, addr, value, ucsrbOriginalParam_);
  else
    avr_->data[addr] = value;
  if (uart_->tx_cnt == 0) {
    if (avr_regbit_get(avr_, uart_->txen))
      avr_raise_interrupt(avr_, &uart_->udrc);
    else
      avr_regbit_set(avr_, uart_->udrc.raised);
  }
}

void UartBridge::chipSent(uint8_t byte) {
  ++bytesFromChip_;
  const uint64_t start = chipLineFreeAt_ > avr_->cycle ? chipLineFreeAt_ : avr_->cycle;
  chipLineFreeAt_ = start + chipFrameCycles();
  fromChip_.push_back({byte, chipLineFreeAt_});
}

}  // namespace avrchip
