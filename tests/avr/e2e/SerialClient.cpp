#include "SerialClient.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace avrtest {
namespace {

speed_t speedOf(unsigned baud) {
  switch (baud) {
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    default:
      return B57600;
  }
}

void appendHex(std::string &to, const uint8_t *data, size_t n) {
  char hex[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(hex, sizeof hex, "%02X ", data[i]);
    to += hex;
  }
}

}  // namespace

Bytes bytesOf(const std::string &text) { return Bytes(text.begin(), text.end()); }

SerialClient::SerialClient(const std::string &port, unsigned baud) {
  fd_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return;
  termios t{};
  tcgetattr(fd_, &t);
  cfmakeraw(&t);
  t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB)) | CS8 | CSTOPB | CREAD | CLOCAL;
  cfsetispeed(&t, speedOf(baud));
  cfsetospeed(&t, speedOf(baud));
  tcsetattr(fd_, TCSANOW, &t);
}

SerialClient::~SerialClient() {
  if (fd_ >= 0) close(fd_);
}

void SerialClient::send(const Bytes &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0)
      done += size_t(n);
    else
      poll(nullptr, 0, 1);
  }
  appendHex(sent_, bytes.data(), bytes.size());
}

Bytes SerialClient::receive(size_t count, double seconds) {
  Bytes got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (got.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, int(left.count())) <= 0) continue;
    uint8_t buf[512];
    const ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
    if (n > 0) got.insert(got.end(), buf, buf + n);
  }
  appendHex(received_, got.data(), got.size());
  return got;
}

Bytes SerialClient::exchange(const Bytes &bytes, size_t count, double seconds) {
  tcflush(fd_, TCIFLUSH);
  send(bytes);
  return receive(count, seconds);
}

std::string SerialClient::trace() const { return "sent: " + sent_ + "| received: " + received_; }

}  // namespace avrtest
