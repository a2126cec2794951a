// A pseudo-terminal pair a test holds itself, with no target behind it: a port opens the slave
// (Device()), the test plays the other end on the master, reading or not, writing, hanging up.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>

namespace bm::test {

class PtyPair {
 public:
  PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    if (const char* name = ::ptsname(master_)) device_ = name;
  }
  ~PtyPair() { HangUp(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  bool Made() const { return !device_.empty(); }
  const std::string& Device() const { return device_; }
  int Master() const { return master_; }

  void Send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(master_, bytes.data(), bytes.size());
      if (n <= 0) return;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }
  // What the port sent, until `n` bytes came or `ms` of wall time passed.
  std::string Receive(size_t n, int ms = 3000) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < n && std::chrono::steady_clock::now() < end) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      char buf[4096];
      const ssize_t r = ::read(master_, buf, sizeof buf);
      if (r > 0) got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }
  // The other end goes away, as an unplugged adapter does.
  void HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string device_;
};

}  // namespace bm::test
