// A simulated bootloader target: the model of a chip behind the serial line.
//
// It speaks the bootloader protocol byte by byte ("?", "I", "i", "A", "E", "D", "P", "B", "X"),
// keeps a flash and an EEPROM image, records every byte in both directions, and can be told to
// misbehave at a chosen command. It protects its own boot section like a real loader: flash
// words at or above `flashWords` are never erased or written.
//
// Time comes from the owner (`nowMs`), so tests decide when a late reply arrives. A reply is
// queued with the time at which it becomes readable; Available()/Take() only see bytes whose
// time has come.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace bm::sim {

struct SimTargetConfig {
  uint32_t signature = 0x1E950F;  // three bytes, most significant first on the wire
  int pageWords = 64;             // page size in 16-bit words (one byte on the wire)
  int flashWords = 0x3800;        // application section in words, reported by "I"
  int bootWords = 0x0800;         // boot section above it; never erased or written
  std::array<uint16_t, 4> loaderIds{0, 0, 0, 0};
  int eepromBytes = 1024;
  int baud = 0;                   // rate the loader listens at; 0 = any rate
  bool paced = false;             // replies take the line time plus page erase/write time
  double pageOpMs = 4.5;          // page erase or write time when paced
};

enum class FaultKind {
  NoReply,     // the command is carried out, its reply never sent
  WrongReply,  // a wrong reply byte (or wrong first byte) is sent
  LateReply,   // the reply comes `lateMs` later than usual
  Vanish,      // the device disappears: no further bytes either way, the port reports failure
};

struct Fault {
  char command = 0;     // command letter the fault applies to
  int occurrence = 1;   // 1-based count of that command; 0 = every time
  FaultKind kind = FaultKind::NoReply;
  double lateMs = 0;
};

struct TraceEntry {
  bool toTarget;
  std::string bytes;
};

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

  void AddFault(const Fault& fault);
  bool Vanished() const { return vanished_; }
  bool Started() const { return started_; }  // "X" received: the loader left

  const SimTargetConfig& Config() const { return config_; }
  std::vector<uint8_t>& Flash() { return flash_; }     // (flashWords + bootWords) * 2 bytes
  std::vector<uint8_t>& Eeprom() { return eeprom_; }   // eepromBytes bytes
  const std::vector<TraceEntry>& Trace() const { return trace_; }
  // The trace in the form "sent: 41 C0 3F 45 | received: 0D", for failure output.
  std::string TraceText() const;
  // Every byte the host sent, in order, and every byte the target sent.
  std::string SentBytes() const;
  std::string ReceivedBytes() const;

 private:
  // implementation detail; see SimTarget.cpp
  struct Pending {
    double dueMs;
    std::string bytes;
  };
  void Reply(char command, std::string bytes, double extraMs = 0);
  double Now() const;

  SimTargetConfig config_;
  std::function<double()> nowMs_;
  std::vector<uint8_t> flash_, eeprom_;
  std::vector<TraceEntry> trace_;
  std::vector<Pending> pending_;
  std::vector<Fault> faults_;
  std::string command_;   // bytes of the command being received
  std::array<uint8_t, 512> page_{};
  uint32_t address_ = 0;  // word address set by "A"
  bool vanished_ = false;
  bool started_ = false;
};

}  // namespace bm::sim
