// A simulated bootloader target: the model of a chip behind the serial line.
//
// It speaks the bootloader protocol byte by byte ("?", "I", "i", "A", "E", "D", "P", "B", "X"),
// keeps a flash and an EEPROM image, records every byte in both directions, and can be told to
// misbehave at a chosen command. It protects its own boot section like a real loader: flash
// words at or above `flashWords` are never erased or written (such a command, and an EEPROM
// address past `eepromBytes`, is refused with a reply byte other than the acknowledge). A page
// write only clears bits, as real flash does, so a missing erase shows in the image.
//
// Time comes from the owner (`nowMs`), so tests decide when a late reply arrives. A reply is
// queued with the time at which it becomes readable; Available()/Take() only see bytes whose
// time has come. Replies leave in order: a late reply holds back the ones after it.
//
// Paced mode models the line: each byte from the host takes WIRE_BITS_PER_FRAME (11) bit times at the host's
// rate to arrive (bytes queue behind each other), a command is carried out when its last byte has arrived,
// page erases and writes take `pageOpMs`, and each reply byte is readable once it has crossed back (the
// same 11 bit times a byte). Unpaced, a reply is readable at once.
//
// After "X" the loader has left: it ignores everything until Restart() (a board reset; the
// serial port front ends call it when the host opens the line, as boards reset by DTR do).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SerialPort.h"

namespace bm::sim {

struct SimTargetConfig {
  uint32_t signature = 0x1E950F;                  // three bytes, most significant first on the wire
  int pageWords = 64;                             // page size in 16-bit words (one byte on the wire, 1..255)
  int flashWords = 0x3800;                        // application section in words, reported by "I"
  int bootWords = 0x0800;                         // boot section above it; never erased or written
  std::array<uint16_t, 4> loaderIds{0, 0, 0, 0};  // LoaderID1..3 name our family and its checks (wire.h)
  int eepromBytes = 1024;
  int baud = 0;               // rate the loader listens at; 0 = any rate
  bool paced = false;         // replies take the line time plus page erase/write time
  double pageOpMs = 4.5;      // page erase or write time when paced
  bool restartOnOpen = true;  // opening the line resets the board (the loader listens again)
  // A command whose bytes stop for longer than this is dropped, as a real loader's receive
  // time-out does: the next byte starts a new command. 0: the loader waits for ever.
  double commandTimeoutMs = 0;
};

enum class FaultKind {
  NoReply,     // the command is carried out, its reply never sent
  WrongReply,  // a wrong reply byte (or wrong first byte) is sent
  LateReply,   // the reply comes `lateMs` later than usual
  Vanish,      // the device disappears: no further bytes either way, the port reports failure
  ShortReply,  // only the first `keepBytes` bytes of the reply are sent
  // A stray byte on the line: right after the reply (the host's flush before its next command
  // must drop it), or as soon as the command's letter has arrived, ahead of the rest of the
  // command and of its reply (the host's flush after "D" or after "B" and its address must).
  StrayAfterReply,
  StrayBeforeReply,
  // "P" writes the page with its first bit flipped and acknowledges as usual: what only a check
  // of the flash afterwards finds.
  CorruptWrite,
};

struct Fault {
  char command = 0;    // command letter the fault applies to
  int occurrence = 1;  // 1-based count of that command; 0 = every time
  FaultKind kind = FaultKind::NoReply;
  double lateMs = 0;
  int keepBytes = 1;  // ShortReply
};

inline constexpr char kStrayByte = 0x55;  // what a stray byte fault puts on the line

class SimTarget {
 public:
  explicit SimTarget(SimTargetConfig config = {}, std::function<double()> nowMs = {});

  // Bytes from the host, sent at `hostBaud`. At a rate other than the loader's they are noise
  // and get no reply.
  void Receive(std::string_view bytes, int hostBaud);
  // Number of reply bytes readable now, and taking up to n of them.
  int Available();
  std::string Take(int n);
  // Discards reply bytes that are readable now (the host flushed); later ones still come.
  void DropArrived();
  // When the next queued reply byte becomes readable; infinity when nothing is queued.
  double NextReplyDueMs() const;
  // Bytes from the host still on their way in (paced): the host's port wrote them, the line has
  // not carried them all yet. 0 unpaced.
  int BytesOnTheWayIn() const;

  // A board reset: the loader listens again, a half-received command and queued replies are
  // gone. Flash, EEPROM, the trace and the fault counts are kept.
  void Restart();

  void AddFault(const Fault& fault);
  // The host's port notes here each reply window it opened while more bytes than one command
  // were written and not drained (a page whose checksum wait began before the page had left).
  void NoteUndrainedReplyWindow() { ++undrainedReplyWindows_; }
  int UndrainedReplyWindows() const { return undrainedReplyWindows_; }
  bool Vanished() const { return vanished_; }
  // The checks its loader IDs announce (LoaderID3 of our family: WIRE_CAPABILITY_*), 0 for another
  // family's loader.
  uint32_t Capabilities() const;
  void Unplug() { vanished_ = true; }        // the device goes away now, between commands
  bool Started() const { return started_; }  // "X" received: the loader left

  const SimTargetConfig& Config() const { return config_; }
  std::vector<uint8_t>& Flash() { return flash_; }    // (flashWords + bootWords) * 2 bytes
  std::vector<uint8_t>& Eeprom() { return eeprom_; }  // eepromBytes bytes
  // Both directions in order: what the host sent, and what the target replied (recorded when
  // the reply was made, so a reply the host flushed is still there). base/ByteTrace.h turns it
  // into "sent: 41 C0 3F 45 | received: 0D" for failure output.
  const std::vector<TraceEntry>& Trace() const { return trace_; }
  // Every byte the host sent, in order, and every byte the target sent.
  std::string SentBytes() const;
  std::string ReceivedBytes() const;

 private:
  struct Pending {
    double dueMs;
    std::string bytes;  // one byte: each has its own time
  };
  void Execute(double doneMs);
  void Reply(char command, std::string bytes, double doneMs, double extraMs = 0);
  void Queue(std::string bytes, double startMs);  // onto the line back, behind what is queued
  void Record(bool toTarget, std::string_view bytes);
  int FaultFor(char command) const;  // index into faults_, or -1
  bool PageWritable() const;
  double Now() const;

  SimTargetConfig config_;
  std::function<double()> nowMs_;
  std::vector<uint8_t> flash_, eeprom_;
  std::vector<TraceEntry> trace_;
  std::vector<Pending> pending_;  // in due order
  std::vector<Fault> faults_;
  std::array<int, 256> commandCount_{};  // per command letter, since construction
  int activeFault_ = -1;                 // fault of the command being received
  std::string command_;                  // bytes of the command being received
  std::array<uint8_t, 512> page_{};
  uint32_t address_ = 0;      // word address set by "A"
  double byteMs_ = 0;         // line time of one byte at the host's rate (paced)
  double lineInFreeMs_ = 0;   // when the last byte from the host has arrived
  double commandByteMs_ = 0;  // when the last byte of the command being received arrived
  double lineOutFreeMs_ = 0;  // when the last queued reply byte has left
  bool vanished_ = false;
  bool started_ = false;
  int undrainedReplyWindows_ = 0;
};

}  // namespace bm::sim
