// The bootloader link: the wire exchanges with a listening loader over the port object, with
// the event loop for the reply waits.
//
// Every command starts with a flush, so a reply never mixes with older bytes. Every reply is
// awaited by one wait, COMwait, made of passes of the event loop: Stop, quitting and the lamp
// timer run inside it. A wait ends early when the awaited bytes are there or the port closed
// (Stop, quit, an unplugged adapter: nothing more can arrive). Every wait's window is its
// allowance (the 50 ms reply window, or an erase's or a check's longer one) plus the line time
// of the bytes it awaits and of the written bytes the port cannot show gone yet: at 1200 baud
// the 8 bytes of "i" alone take 73 ms.
//
// The link never shows anything: identification returns what it found and why it failed; the
// runs (Run.h) return their RunResult. The engine tells the link when the user stopped or quit,
// so a run that ends on a closed port can say which it was.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "images/Images.h"
#include "link/ComPort.h"
#include "link/TargetInfo.h"
#include "platform/EventLoop.h"

namespace bm {

// Reply waits: passes of one event-loop wait of kPassMs each.
inline constexpr int kPassMs = 1;
inline constexpr int kComWaitPasses = 50;
// The longest reply window a user may ask for (a slow link: Bluetooth serial, a network serial
// server): one minute.
inline constexpr int kMaxReplyWindowMs = 60000;
// A page erase can take longer than a COMwait; its wait is bounded all the same (a few seconds).
inline constexpr int kEraseWaitPasses = 5000;

// The answer of the liveness check.
enum class Liveness {
  Alive,        // "KW": a loader listens
  Silent,       // no answer; the port is closed again
  WrongAnswer,  // another answer (LastAnswer() holds it); the port is closed again
  NotOpened,    // the port would not open (ComPort::LastOpenFailure() says why)
};

// Why the port was closed under a running exchange, as far as the user caused it.
enum class Interruption { None, Stop, Quit };

// What identification found. Captions texts are set only once their bytes arrived.
struct Identification {
  enum class Outcome {
    Identified,  // every check passed
    Incomplete,  // the "I" reply stopped short (nothing is shown)
    Failed,      // a broken exchange ("Communication error")
    Refused,     // wrong device or loader, or a page geometry that cannot be programmed
  };
  Outcome outcome = Outcome::Incomplete;
  std::string message;                       // the message to show; empty when none
  std::optional<std::string> signatureText;  // "1E950F", once the signature arrived
  std::optional<std::string> loaderIdText;   // "101", once the loader IDs arrived

  bool Identified() const { return outcome == Outcome::Identified; }
};

// The time `bytes` bytes take on the line at `baud`: WIRE_BITS_PER_FRAME bits each (start, 8
// data, 2 stop). 0 for a rate that is not one.
double LineTimeMs(int64_t bytes, int baud);

// 2 upper-case hex digits of the byte at the 1-based `position` of `reply`; "00" outside it.
std::string IntToHex(const std::string& reply, int position);

// Why a reported page size and flash size (both in words) cannot be programmed, or nothing
// when they can: the page must fit the 256-byte block buffer and the flash must hold a page.
std::optional<std::string> PageGeometryProblem(int32_t pageWords, int32_t flashWords);

class Bootloader {
 public:
  Bootloader(ComPort& port, EventLoop& loop) : port_(port), loop_(loop) {}

  ComPort& Port() { return port_; }
  void Yield() { loop_.yield(); }

  // Discards received bytes, then sends the command letter.
  void SendCommand(char letter);
  void SendWord(uint16_t value);  // low byte first
  void SendByte(uint8_t value);

  // The reply wait: passes until `count` bytes are waiting, the port closed, or the window went
  // by: `passes` passes (at least one) plus the line time, rounded up to whole passes, of the
  // `count` bytes and of the bytes the port still has on their way out (BytesOnTheWay: the
  // command just written, or a page a drain returned early on).
  void WaitForReply(int count, int passes);
  void COMwait(int count) { WaitForReply(count, replyPasses_); }

  // The window of every reply wait: kComWaitPasses passes (50 ms) unless a front widens it for a
  // slow link, plus the line time (WaitForReply). The longer waits (an erase, a flash check)
  // keep their margin above it.
  void SetReplyWindowMs(int ms) { replyPasses_ = std::clamp(ms / kPassMs, 1, kMaxReplyWindowMs / kPassMs); }
  int ReplyPasses() const { return replyPasses_; }

  // One reply byte (within a COMwait, or the longer erase wait) and whether it is `expected`.
  bool ReplyIs(uint8_t expected) { return ReplyIs(expected, replyPasses_); }
  bool ReplyIs(uint8_t expected, int passes);
  bool Acknowledged();
  bool EraseAcknowledged();

  // The liveness check on the port: opens it (or, already open, discards what it received
  // since), sends "?" and expects "KW". On any other answer the port is closed. With `attempts`
  // above 1, "?" is sent again up to that many times, spread over one second, before the port
  // counts as silent (a board that its adapter reset on open is still starting its loader).
  // `waitAfterOpenMs`: after opening the port, wait that long before the first "?".
  Liveness CheckAlive(int attempts = 1, int waitAfterOpenMs = 0);
  // What the last liveness check received (empty when nothing came).
  const std::string& LastAnswer() const { return answer_; }

  // "I", and "i" when the file names a loader ID (expected.OrgBootID >= 0) or `askLoaderIds`
  // (then any loader ID passes when the file names none); `target` receives each value as its
  // bytes arrive.
  Identification Identify(const ExpectedIds& expected, TargetInfo& target, bool askLoaderIds = false);

  // Tells the loader to leave ("X") and closes the port; the "X" leaves first.
  void Leave();

  // A command whose bytes go out with yields between them (a page's "D" data) is bracketed by
  // BeginCommand and EndCommand. Stop (the user's farewell) leaves at once between commands;
  // inside such a command it waits for EndCommand, so the rest of the command's bytes go out
  // first and the loader reads "X" as a command, not as a data byte.
  void BeginCommand() { inCommand_ = true; }
  void EndCommand();
  void Stop();

  // Set by the engine when Stop or quitting ends a run; cleared when a run starts. Quitting drops a
  // farewell still waiting for the end of a command: quitting never sends "X".
  void Interrupt(Interruption why) {
    interruption_ = why;
    if (why == Interruption::None) inCommand_ = false;
    if (why != Interruption::Stop) leavePending_ = false;
  }
  Interruption Interrupted() const { return interruption_; }

 private:
  // The steps of Identify: the "I" exchange into `target` (Identified when the whole reply came),
  // the "i" exchange and the loader ID check, and the end with an outcome and its message.
  Identification::Outcome ReadIdentity(TargetInfo& target, Identification& found);
  Identification::Outcome CheckLoaderIds(const ExpectedIds& expected, TargetInfo& target,
                                         Identification& found);
  static Identification Ended(Identification& found, Identification::Outcome outcome, std::string message);

  ComPort& port_;
  EventLoop& loop_;
  Interruption interruption_ = Interruption::None;
  bool inCommand_ = false;
  bool leavePending_ = false;
  int replyPasses_ = kComWaitPasses;
  std::string answer_;
};

}  // namespace bm
