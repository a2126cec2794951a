#include "platform/sim/SimTarget.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "protocol/crc.h"
#include "protocol/wire.h"

namespace bm::sim {
namespace {

uint8_t U8(char c) { return static_cast<uint8_t>(c); }

std::string Ack() { return std::string(1, static_cast<char>(WIRE_ACK)); }

}  // namespace

SimTarget::SimTarget(SimTargetConfig config, std::function<double()> nowMs)
    : config_(config), nowMs_(std::move(nowMs)) {
  // A page size must fit its one wire byte and the page buffer; sizes are never negative.
  config_.pageWords = std::clamp(config_.pageWords, 1, 255);
  config_.flashWords = std::max(config_.flashWords, 0);
  config_.bootWords = std::max(config_.bootWords, 0);
  config_.eepromBytes = std::max(config_.eepromBytes, 0);
  flash_.assign(static_cast<size_t>(config_.flashWords + config_.bootWords) * 2, 0xFF);
  eeprom_.assign(static_cast<size_t>(config_.eepromBytes), 0xFF);
  page_.fill(0xFF);
}

double SimTarget::Now() const { return nowMs_ ? nowMs_() : 0; }

static size_t CommandLength(char letter, int pageWords, uint32_t capabilities) {
  switch (letter) {
    // Checks only where the loader IDs announce them: another family's loader does not know them.
    case WIRE_FLASH_CRC:
      return capabilities & WIRE_CAPABILITY_FLASH_CRC ? WIRE_FLASH_CRC_BYTES : 0;
    case WIRE_FLASH_CRC32:
    case WIRE_EEPROM_CRC32:
      return capabilities & WIRE_CAPABILITY_CRC32 ? WIRE_CRC32_BYTES : 0;
    case WIRE_SET_ADDRESS:
      return WIRE_SET_ADDRESS_BYTES;
    case WIRE_LOAD_PAGE:
      return 1 + 2 * static_cast<size_t>(pageWords);
    case WIRE_WRITE_EEPROM:
      return WIRE_WRITE_EEPROM_BYTES;
    case WIRE_ALIVE:
    case WIRE_IDENTIFY:
    case WIRE_LOADER_IDS:
    case WIRE_ERASE_PAGE:
    case WIRE_PROGRAM_PAGE:
    case WIRE_LEAVE:
      return 1;
    default:
      return 0;  // not a command
  }
}

void SimTarget::Receive(std::string_view bytes, int hostBaud) {
  if (vanished_ || bytes.empty()) return;
  Record(true, bytes);
  const double now = Now();
  byteMs_ = config_.paced && hostBaud > 0 ? WIRE_BITS_PER_FRAME * 1000.0 / hostBaud : 0;
  // Bytes at another rate than the loader's still take their time on the line.
  if (config_.baud != 0 && hostBaud != config_.baud) {
    lineInFreeMs_ = std::max(now, lineInFreeMs_) + static_cast<double>(bytes.size()) * byteMs_;
    return;  // framing garbage to the loader
  }
  for (char c : bytes) {
    lineInFreeMs_ = std::max(now, lineInFreeMs_) + byteMs_;
    if (started_) continue;
    if (!command_.empty() && config_.commandTimeoutMs > 0 &&
        lineInFreeMs_ - commandByteMs_ > config_.commandTimeoutMs) {
      command_.clear();  // timed out: this byte starts afresh
      activeFault_ = -1;
    }
    commandByteMs_ = lineInFreeMs_;
    if (command_.empty()) {
      if (CommandLength(c, config_.pageWords, Capabilities()) == 0)
        continue;  // an idle loader ignores stray bytes
      ++commandCount_[U8(c)];
      activeFault_ = FaultFor(c);
      if (activeFault_ >= 0 && faults_[activeFault_].kind == FaultKind::Vanish) {
        vanished_ = true;
        pending_.clear();
        return;
      }
      if (activeFault_ >= 0 && faults_[activeFault_].kind == FaultKind::StrayBeforeReply)
        Queue(std::string(1, kStrayByte), lineInFreeMs_);
    }
    command_ += c;
    if (command_.size() == CommandLength(command_[0], config_.pageWords, Capabilities()))
      Execute(lineInFreeMs_);
  }
}

bool SimTarget::PageWritable() const {
  const uint32_t page = address_ - address_ % static_cast<uint32_t>(config_.pageWords);
  return page + static_cast<uint32_t>(config_.pageWords) <= static_cast<uint32_t>(config_.flashWords);
}

void SimTarget::Execute(double doneMs) {
  const std::string cmd = std::move(command_);
  command_.clear();
  const char letter = cmd[0];
  const double pageOpMs = config_.paced ? config_.pageOpMs : 0;
  const size_t pageBytes = 2 * static_cast<size_t>(config_.pageWords);
  const size_t pageStart = 2 * static_cast<size_t>(address_ - address_ % config_.pageWords);

  switch (letter) {
    case WIRE_ALIVE:
      Reply(letter, std::string(WIRE_ALIVE_REPLY), doneMs);
      break;
    case WIRE_IDENTIFY: {
      const uint32_t sig = config_.signature;
      const uint32_t words = static_cast<uint32_t>(config_.flashWords);
      const char reply[] = {WIRE_IDENTIFY,
                            static_cast<char>(sig >> 16),
                            static_cast<char>(sig >> 8),
                            static_cast<char>(sig),
                            static_cast<char>(config_.pageWords),
                            static_cast<char>(words & 0xFF),
                            static_cast<char>(words >> 8)};
      Reply(letter, std::string(reply, sizeof reply), doneMs);
      break;
    }
    case WIRE_LOADER_IDS: {
      std::string reply;
      for (uint16_t id : config_.loaderIds) {
        reply += static_cast<char>(id >> 8);  // most significant first, unlike every other number
        reply += static_cast<char>(id & 0xFF);
      }
      Reply(letter, reply, doneMs);
      break;
    }
    case WIRE_SET_ADDRESS:
      address_ = U8(cmd[1]) | (U8(cmd[2]) << 8);
      Reply(letter, Ack(), doneMs);
      break;
    case WIRE_ERASE_PAGE:
      if (!PageWritable()) {
        Reply(letter, std::string(1, WIRE_REFUSED), doneMs);
        break;
      }
      std::fill_n(flash_.begin() + static_cast<std::ptrdiff_t>(pageStart), pageBytes, 0xFF);
      Reply(letter, Ack(), doneMs, pageOpMs);
      break;
    case WIRE_LOAD_PAGE: {
      uint8_t sum = 0;
      for (size_t i = 0; i < pageBytes; ++i) {
        page_[i] = U8(cmd[1 + i]);
        sum = static_cast<uint8_t>(sum + page_[i]);
      }
      Reply(letter, std::string(1, static_cast<char>(sum)), doneMs);
      break;
    }
    case WIRE_PROGRAM_PAGE:
      if (!PageWritable()) {
        Reply(letter, std::string(1, WIRE_REFUSED), doneMs);
        break;
      }
      // Programming flash can only clear bits; only an erase sets them again.
      for (size_t i = 0; i < pageBytes; ++i) flash_[pageStart + i] &= page_[i];
      if (activeFault_ >= 0 && faults_[activeFault_].kind == FaultKind::CorruptWrite)
        flash_[pageStart] ^= 0x01;
      page_.fill(0xFF);
      Reply(letter, Ack(), doneMs, pageOpMs);
      break;
    case WIRE_WRITE_EEPROM: {
      const size_t at = U8(cmd[1]) | (U8(cmd[2]) << 8);
      if (at >= eeprom_.size()) {
        Reply(letter, std::string(1, WIRE_REFUSED), doneMs);
        break;
      }
      eeprom_[at] = U8(cmd[3]);
      Reply(letter, Ack(), doneMs);
      break;
    }
    case WIRE_LEAVE:
      started_ = true;
      break;
    case WIRE_FLASH_CRC: {
      const size_t start = 2 * static_cast<size_t>(U8(cmd[1]) | (U8(cmd[2]) << 8));
      size_t words = U8(cmd[3]) | (U8(cmd[4]) << 8);
      if (words == 0) words = 0x10000;
      uint16_t crc = WIRE_CRC_INITIAL;
      for (size_t i = start; i < start + 2 * words; ++i)
        crc = wire_crc_update(crc, i < flash_.size() ? flash_[i] : 0xFF);
      // The loader reads the flash at its own pace: about 1 ms per 130 bytes at 16 MHz.
      Reply(letter, std::string{static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)}, doneMs,
            config_.paced ? static_cast<double>(2 * words) / 130.0 : 0);
      break;
    }
    case WIRE_FLASH_CRC32:
    case WIRE_EEPROM_CRC32: {
      const bool eeprom = letter == WIRE_EEPROM_CRC32;
      const size_t start = (eeprom ? 1 : 2) * static_cast<size_t>(U8(cmd[1]) | (U8(cmd[2]) << 8));
      size_t count = U8(cmd[3]) | (U8(cmd[4]) << 8);
      if (count == 0) count = 0x10000;
      const std::vector<uint8_t>& memory = eeprom ? eeprom_ : flash_;
      std::vector<uint8_t> bytes(count, 0xFF);
      for (size_t i = 0; i < count && start + i < memory.size(); ++i) bytes[i] = memory[start + i];
      const uint32_t crc = wire_crc32(bytes.data(), bytes.size());
      std::string reply;
      for (int i = 0; i < 4; ++i) reply += static_cast<char>(crc >> (8 * i));
      // The loader sums a bit at a time: about 1 ms per 190 bytes at 16 MHz.
      Reply(letter, reply, doneMs, config_.paced ? static_cast<double>(count) / 190.0 : 0);
      break;
    }
  }
}

uint32_t SimTarget::Capabilities() const {
  return config_.loaderIds[1] == WIRE_FAMILY_ID ? config_.loaderIds[3] : 0;
}

void SimTarget::Reply(char, std::string bytes, double doneMs, double extraMs) {
  double start = doneMs + extraMs;
  if (activeFault_ >= 0) {
    const Fault& fault = faults_[activeFault_];
    switch (fault.kind) {
      case FaultKind::NoReply:
        return;
      case FaultKind::WrongReply:
        bytes[0] = static_cast<char>(U8(bytes[0]) + 1);
        break;
      case FaultKind::LateReply:
        start += fault.lateMs;
        break;
      case FaultKind::Vanish:
        return;
      case FaultKind::ShortReply:
        bytes.resize(std::min(bytes.size(), static_cast<size_t>(std::max(fault.keepBytes, 0))));
        break;
      case FaultKind::StrayAfterReply:
        bytes += kStrayByte;
        break;
      case FaultKind::StrayBeforeReply:
      case FaultKind::CorruptWrite:
        break;  // already on the line; already in the flash
    }
  }
  Queue(std::move(bytes), start);
}

void SimTarget::Queue(std::string bytes, double startMs) {
  if (bytes.empty()) return;
  Record(false, bytes);
  // Replies share one line back: a reply cannot overtake the one before it. Each byte is
  // readable once it has crossed, as on a real line: the first byte of a long reply long before
  // its last.
  double due = std::max(startMs, lineOutFreeMs_);
  for (char c : bytes) {
    due += byteMs_;
    pending_.push_back({due, std::string(1, c)});
  }
  lineOutFreeMs_ = due;
}

int SimTarget::BytesOnTheWayIn() const {
  if (byteMs_ <= 0) return 0;
  const double aheadMs = lineInFreeMs_ - Now();
  // A byte that is all but arrived (a rounding step of the clock) counts as arrived.
  return aheadMs > 1e-9 ? static_cast<int>(std::ceil(aheadMs / byteMs_ - 1e-9)) : 0;
}

int SimTarget::Available() {
  const double now = Now();
  int n = 0;
  for (const Pending& r : pending_) {
    if (r.dueMs > now) break;
    n += static_cast<int>(r.bytes.size());
  }
  return n;
}

std::string SimTarget::Take(int n) {
  const double now = Now();
  std::string out;
  while (n > 0 && !pending_.empty() && pending_.front().dueMs <= now) {
    std::string& bytes = pending_.front().bytes;
    const size_t k = std::min(bytes.size(), static_cast<size_t>(n));
    out.append(bytes, 0, k);
    bytes.erase(0, k);
    n -= static_cast<int>(k);
    if (bytes.empty()) pending_.erase(pending_.begin());
  }
  return out;
}

void SimTarget::DropArrived() {
  const double now = Now();
  auto firstLater =
      std::find_if(pending_.begin(), pending_.end(), [now](const Pending& r) { return r.dueMs > now; });
  pending_.erase(pending_.begin(), firstLater);
}

double SimTarget::NextReplyDueMs() const {
  return pending_.empty() ? std::numeric_limits<double>::infinity() : pending_.front().dueMs;
}

void SimTarget::Restart() {
  if (vanished_) return;
  command_.clear();
  pending_.clear();
  page_.fill(0xFF);
  address_ = 0;
  activeFault_ = -1;
  started_ = false;
}

void SimTarget::AddFault(const Fault& fault) { faults_.push_back(fault); }

int SimTarget::FaultFor(char command) const {
  const int count = commandCount_[U8(command)];
  for (size_t i = 0; i < faults_.size(); ++i) {
    const Fault& f = faults_[i];
    if (f.command == command && (f.occurrence == 0 || f.occurrence == count)) return static_cast<int>(i);
  }
  return -1;
}

void SimTarget::Record(bool toTarget, std::string_view bytes) {
  if (!trace_.empty() && trace_.back().toTarget == toTarget)
    trace_.back().bytes.append(bytes);
  else
    trace_.push_back({toTarget, std::string(bytes)});
}

std::string SimTarget::SentBytes() const {
  std::string bytes;
  for (const TraceEntry& e : trace_)
    if (e.toTarget) bytes += e.bytes;
  return bytes;
}

std::string SimTarget::ReceivedBytes() const {
  std::string bytes;
  for (const TraceEntry& e : trace_)
    if (!e.toTarget) bytes += e.bytes;
  return bytes;
}

}  // namespace bm::sim
