#include "platform/sim/SimTarget.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "target/Protocol.h"

namespace bm::sim {
namespace {

namespace p = bm::protocol;

// The loader's answer to a command it will not carry out (boot section, EEPROM range): any byte
// other than the acknowledge makes the host's reply check fail.
constexpr char kRefused = '?';
constexpr double kBitsPerByte = 11;  // start, 8 data, 2 stop

uint8_t U8(char c) { return static_cast<uint8_t>(c); }

std::string Ack() { return std::string(1, static_cast<char>(p::kAck)); }

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

static size_t CommandLength(char letter, int pageWords) {
  switch (letter) {
    case p::kSetAddress:
      return 3;
    case p::kLoadPage:
      return 1 + 2 * static_cast<size_t>(pageWords);
    case p::kWriteEeprom:
      return 4;
    case p::kAlive:
    case p::kIdentify:
    case p::kLoaderIds:
    case p::kErasePage:
    case p::kProgramPage:
    case p::kLeave:
      return 1;
    default:
      return 0;  // not a command
  }
}

void SimTarget::Receive(std::string_view bytes, int hostBaud) {
  if (vanished_ || bytes.empty()) return;
  Record(true, bytes);
  if (config_.baud != 0 && hostBaud != config_.baud) return;  // framing garbage to the loader
  const double now = Now();
  byteMs_ = config_.paced && hostBaud > 0 ? kBitsPerByte * 1000.0 / hostBaud : 0;
  for (char c : bytes) {
    lineInFreeMs_ = std::max(now, lineInFreeMs_) + byteMs_;
    if (started_) continue;
    if (command_.empty()) {
      if (CommandLength(c, config_.pageWords) == 0) continue;  // an idle loader ignores stray bytes
      ++commandCount_[U8(c)];
      activeFault_ = FaultFor(c);
      if (activeFault_ >= 0 && faults_[activeFault_].kind == FaultKind::Vanish) {
        vanished_ = true;
        pending_.clear();
        return;
      }
    }
    command_ += c;
    if (command_.size() == CommandLength(command_[0], config_.pageWords)) Execute(lineInFreeMs_);
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
    case p::kAlive:
      Reply(letter, std::string(p::kAliveReply), doneMs);
      break;
    case p::kIdentify: {
      const uint32_t sig = config_.signature;
      const uint32_t words = static_cast<uint32_t>(config_.flashWords);
      const char reply[] = {p::kIdentify,
                            static_cast<char>(sig >> 16),
                            static_cast<char>(sig >> 8),
                            static_cast<char>(sig),
                            static_cast<char>(config_.pageWords),
                            static_cast<char>(words & 0xFF),
                            static_cast<char>(words >> 8)};
      Reply(letter, std::string(reply, sizeof reply), doneMs);
      break;
    }
    case p::kLoaderIds: {
      std::string reply;
      for (uint16_t id : config_.loaderIds) {
        reply += static_cast<char>(id >> 8);  // most significant first, unlike every other number
        reply += static_cast<char>(id & 0xFF);
      }
      Reply(letter, reply, doneMs);
      break;
    }
    case p::kSetAddress:
      address_ = U8(cmd[1]) | (U8(cmd[2]) << 8);
      Reply(letter, Ack(), doneMs);
      break;
    case p::kErasePage:
      if (!PageWritable()) {
        Reply(letter, std::string(1, kRefused), doneMs);
        break;
      }
      std::fill_n(flash_.begin() + static_cast<std::ptrdiff_t>(pageStart), pageBytes, 0xFF);
      Reply(letter, Ack(), doneMs, pageOpMs);
      break;
    case p::kLoadPage: {
      uint8_t sum = 0;
      for (size_t i = 0; i < pageBytes; ++i) {
        page_[i] = U8(cmd[1 + i]);
        sum = static_cast<uint8_t>(sum + page_[i]);
      }
      Reply(letter, std::string(1, static_cast<char>(sum)), doneMs);
      break;
    }
    case p::kProgramPage:
      if (!PageWritable()) {
        Reply(letter, std::string(1, kRefused), doneMs);
        break;
      }
      // Programming flash can only clear bits; only an erase sets them again.
      for (size_t i = 0; i < pageBytes; ++i) flash_[pageStart + i] &= page_[i];
      page_.fill(0xFF);
      Reply(letter, Ack(), doneMs, pageOpMs);
      break;
    case p::kWriteEeprom: {
      const size_t at = U8(cmd[1]) | (U8(cmd[2]) << 8);
      if (at >= eeprom_.size()) {
        Reply(letter, std::string(1, kRefused), doneMs);
        break;
      }
      eeprom_[at] = U8(cmd[3]);
      Reply(letter, Ack(), doneMs);
      break;
    }
    case p::kLeave:
      started_ = true;
      break;
  }
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
    }
  }
  // Replies share one line back: a reply cannot overtake the one before it.
  const double due = std::max(start, lineOutFreeMs_) + static_cast<double>(bytes.size()) * byteMs_;
  lineOutFreeMs_ = due;
  Record(false, bytes);
  pending_.push_back({due, std::move(bytes)});
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

std::string SimTarget::TraceText(size_t maxEntries) const {
  size_t first = 0;
  std::string text;
  if (maxEntries > 0 && trace_.size() > maxEntries) {
    first = trace_.size() - maxEntries;
    text = "... | ";
  }
  char hex[4];
  for (size_t i = first; i < trace_.size(); ++i) {
    if (i > first) text += " | ";
    text += trace_[i].toTarget ? "sent:" : "received:";
    for (char c : trace_[i].bytes) {
      std::snprintf(hex, sizeof hex, " %02X", U8(c));
      text += hex;
    }
  }
  return text;
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
