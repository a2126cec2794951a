// A bare serial client for talking to the bootloader byte by byte, without
// the host program: opens the chip's pty raw at 8N2 and offers exchanges
// ("send these bytes, collect that many") with a time limit, and keeps a
// trace of both directions for failure messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace avrtest {

using Bytes = std::vector<uint8_t>;

class SerialClient {
 public:
  SerialClient(const std::string &port, unsigned baud);
  ~SerialClient();
  bool isOpen() const { return fd_ >= 0; }

  // Discards pending input, sends bytes, then collects up to count bytes
  // for at most seconds.
  Bytes exchange(const Bytes &send, size_t count, double seconds = 0.5);
  void send(const Bytes &bytes);
  Bytes receive(size_t count, double seconds);

  // "sent: 41 C0 3F | received: 0D" of everything so far.
  std::string trace() const;

 private:
  int fd_ = -1;
  std::string sent_, received_;
};

Bytes bytesOf(const std::string &text);

}  // namespace avrtest
