#include "link/Bootloader.h"

#include <algorithm>
#include <cmath>

#include "base/Util.h"
#include "protocol/wire.h"

namespace bm {

void Bootloader::SendCommand(char letter) {
  port_.Flush();
  port_.Write(std::string(1, letter));
}

void Bootloader::SendWord(uint16_t value) {
  SendByte(Util::lo(value));
  SendByte(Util::hi(value));
}

void Bootloader::SendByte(uint8_t value) { port_.Write(std::string(1, static_cast<char>(value))); }

double LineTimeMs(int64_t bytes, int baud) {
  return baud > 0 && bytes > 0 ? static_cast<double>(bytes) * WIRE_BITS_PER_FRAME * 1000.0 / baud : 0;
}

void Bootloader::WaitForReply(int count, int passes) {
  // The allowance counts from the moment the reply could be complete: the bytes still going out
  // and the reply itself need their time on the line first, which at a slow rate is more than
  // the whole allowance.
  const double lineMs = LineTimeMs(static_cast<int64_t>(count) + port_.BytesOnTheWay(), port_.BaudRate());
  passes += static_cast<int>(std::ceil(lineMs / kPassMs - 1e-9));
  for (int pass = 1;; ++pass) {
    loop_.processEvents(kPassMs);
    loop_.yield();
    // A closed port (Stop, quit, unplugged adapter) receives nothing more: no point waiting.
    if (!port_.IsOpen()) return;
    if (port_.BytesAvailable() >= count || pass >= passes) return;
  }
}

bool Bootloader::ReplyIs(uint8_t expected, int passes) {
  WaitForReply(WIRE_ACK_BYTES, passes);
  const std::string reply = port_.Read(WIRE_ACK_BYTES);
  return reply.size() == 1 && static_cast<uint8_t>(reply[0]) == expected;
}

bool Bootloader::Acknowledged() { return ReplyIs(WIRE_ACK); }

// The erase acknowledge may take longer than a COMwait, but not for ever.
bool Bootloader::EraseAcknowledged() { return ReplyIs(WIRE_ACK, std::max(kEraseWaitPasses, replyPasses_)); }

Liveness Bootloader::CheckAlive(int attempts, int waitAfterOpenMs) {
  constexpr int kSpreadMs = 1000;
  constexpr int kPassMs = 10;
  if (!port_.IsOpen()) {
    if (!port_.Open()) {
      answer_.clear();
      return Liveness::NotOpened;
    }
    // A board that its adapter resets on open is still starting; its loader is not yet there.
    for (int waited = 0; waited < waitAfterOpenMs && port_.IsOpen() && interruption_ == Interruption::None;
         waited += kPassMs)
      loop_.processEvents(std::min(kPassMs, waitAfterOpenMs - waited));
  }
  const int gapMs = attempts > 1 ? kSpreadMs / attempts : 0;
  for (int attempt = 1;; ++attempt) {
    // Still open from the search, whatever it received since is stale, and the loader may have
    // left meanwhile, so it is asked again rather than trusted; just opened, the line may still
    // hold replies of an earlier session (a run ended by quitting).
    port_.Flush();
    port_.Write(std::string(1, WIRE_ALIVE));
    COMwait(WIRE_ALIVE_REPLY_BYTES);
    answer_ = port_.Read(WIRE_ALIVE_REPLY_BYTES);
    if (answer_ == WIRE_ALIVE_REPLY) return Liveness::Alive;
    if (attempt >= attempts) break;
    for (int waited = 0; waited < gapMs && port_.IsOpen() && interruption_ == Interruption::None;
         waited += kPassMs)
      loop_.processEvents(std::min(kPassMs, gapMs - waited));
    if (!port_.IsOpen() || interruption_ != Interruption::None) break;
  }
  port_.Close();
  return answer_.empty() ? Liveness::Silent : Liveness::WrongAnswer;
}

void Bootloader::EndCommand() {
  inCommand_ = false;
  if (!leavePending_) return;
  leavePending_ = false;
  if (port_.IsOpen()) Leave();
}

void Bootloader::Stop() {
  if (inCommand_)
    leavePending_ = true;
  else
    Leave();
}

void Bootloader::Leave() {
  port_.Flush();
  port_.Write(std::string(1, WIRE_LEAVE));
  port_.Close();  // drains first: the loader must get the "X"
}

}  // namespace bm
