#include "platform/posix/PosixSerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/posix/ReceivingLines.h"
#include "platform/posix/SystemPorts.h"
#include "protocol/wire.h"

namespace bm::posix {
namespace {

// A write that has not left after its line time twice over plus this margin is stuck (a
// reader that stopped reading, a dead adapter); waiting longer would freeze the program.
constexpr auto kWriteMargin = std::chrono::seconds(1);

// How far the written bytes may run ahead of the line before XmitWait holds the writer back: the
// lead XmitWait allows, far below the 50 ms reply window. The OS and an adapter take bytes faster
// than the line carries them; without a bound a whole page would queue at once, and a loader
// without a receive buffer to spare would be fed faster than it reads. Holding back only past
// this lead keeps the line busy without a sleep (or a kernel drain) per byte.
constexpr auto kMaxLineBacklog = std::chrono::milliseconds(4);
constexpr auto kLineBacklogAfterWait = std::chrono::milliseconds(2);

constexpr const char* kHeldExclusively = "the device is held exclusively by another program";
constexpr const char* kHeldByLock = "another program holds a lock on the device";

std::chrono::nanoseconds LineTime(size_t bytes, int baud) {
  return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * WIRE_BITS_PER_FRAME * 1'000'000'000LL /
                                  std::max(baud, 1));
}

// The rate's code in the classic table every UART driver knows; 0 for any other rate.
speed_t ClassicRate(int baud) {
  switch (baud) {
    case 50:
      return B50;
    case 75:
      return B75;
    case 110:
      return B110;
    case 134:
      return B134;
    case 150:
      return B150;
    case 200:
      return B200;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 1800:
      return B1800;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return 0;
  }
}

// The line settings of the bootloader link: raw, 8 data bits, no parity, 2 stop bits, no
// handshake, modem lines ignored, at `baud`.
bool Configure(int fd, int baud) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CRTSCTS);
  tio.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  // One byte: with the descriptor non-blocking a read then gives EAGAIN when nothing waits, and
  // 0 only when the line hung up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  const speed_t classic = ClassicRate(baud);
  if (classic != 0) ::cfsetspeed(&tio, classic);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  return classic != 0 || SetOtherRate(fd, baud);
}

// A pseudo-terminal's slave side (the Unix 98 majors, and the old BSD ones).
bool IsPseudoTerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned major = ::major(st.st_rdev);
  return (major >= 136 && major <= 143) || major == 3;
}

}  // namespace

OpenFailure ExplainOpenFailure(int openErrno, const DeviceAccess& access, const std::string& systemText) {
  switch (openErrno) {
    case EACCES:
    case EPERM:
      return {OpenFailure::Kind::PermissionDenied, access.group, systemText, access.owner};
    case EBUSY:
      return {OpenFailure::Kind::Busy, "", systemText, ""};
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return {OpenFailure::Kind::NoDevice, "", systemText, ""};
    default:
      return {OpenFailure::Kind::Other, "", systemText, ""};
  }
}

PosixSerialPort::PosixSerialPort(std::string device, SerialFlagsIo flags)
    : device_(std::move(device)), flagsIo_(std::move(flags)) {}

PosixSerialPort::~PosixSerialPort() { Close(); }

bool PosixSerialPort::Refuse(OpenFailure failure) {
  if (error_.empty()) error_ = failure.detail;
  openFailure_ = std::move(failure);
  return false;
}

bool PosixSerialPort::Open() {
  if (IsOpen()) return true;
  error_.clear();
  openFailure_ = {};
  const std::string file = DeviceFile(device_);
  // Non-blocking: a modem line must not wait for a carrier, and nothing here may wait on a device
  // another program holds.
  const int fd = ::open(file.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    return Refuse(ExplainOpenFailure(e, AccessOf(file), std::strerror(e)));
  }
  // Whether another program holds the device, looked at before anything on it changes: an open
  // that passed its exclusive flag (root may) must leave its line, its settings and its input
  // alone. A second descriptor on a line that is up changes no modem line, so the board behind
  // it is not reset.
  int exclusive = 0;
  if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0) {
    ::close(fd);
    return Refuse({OpenFailure::Kind::Busy, "", kHeldExclusively, ""});
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return Refuse({OpenFailure::Kind::Busy, "", kHeldByLock, ""});
  }
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    const int e = errno;
    ::close(fd);
    return Refuse(
        {OpenFailure::Kind::Other, "", std::string("not a serial device: ") + std::strerror(e), ""});
  }
  fd_ = fd;
  in_.clear();
  out_.clear();
  lineFreeAt_ = {};
  // A pseudo-terminal keeps its flag while its other side is open, after our descriptor is long
  // gone (killed); the flock keeps others out there.
  exclusive_ = !IsPseudoTerminal(fd_) && ::ioctl(fd_, TIOCEXCL) == 0;
  if (!Configure(fd_, baud_)) {
    const int e = errno;
    Release();
    return Refuse({OpenFailure::Kind::Other, "",
                   "cannot set the line to " + std::to_string(baud_) + " baud: " + std::strerror(e), ""});
  }
  serialFlags_ = SetLowLatency(fd_, flagsIo_);
  AddReceivingLine(fd_, [this] { Pull(); });
  return true;
}

void PosixSerialPort::Release() {
  if (fd_ < 0) return;
  RemoveReceivingLine(fd_);
  if (serialFlags_) RestoreSerialFlags(fd_, *serialFlags_, flagsIo_);
  serialFlags_.reset();
  if (exclusive_) ::ioctl(fd_, TIOCNXCL);
  exclusive_ = false;
  ::close(fd_);  // and with it our flock
  fd_ = -1;
  in_.clear();
  out_.clear();
}

void PosixSerialPort::Fail(const std::string& why) {
  if (error_.empty()) error_ = why;
  Release();
}

void PosixSerialPort::Close() {
  if (fd_ < 0) return;
  // A farewell "X" must reach the target.
  Drain();
  if (fd_ < 0) return;
  // Some adapters (a CH340) report drained while their own buffer still holds the bytes: the line
  // model's time plus one frame covers what they still have to send.
  const auto rest = lineFreeAt_ + LineTime(1, baud_) - std::chrono::steady_clock::now();
  if (rest > std::chrono::nanoseconds::zero()) std::this_thread::sleep_for(rest);
  Release();
}

void PosixSerialPort::SetBaudRate(int baud) {
  if (baud == baud_) return;
  if (fd_ >= 0) Drain();  // bytes still on their way keep the rate they were sent at
  baud_ = baud;
  if (fd_ >= 0 && !Configure(fd_, baud_) && error_.empty())
    error_ = "the device refused " + std::to_string(baud_) + " baud: " + std::strerror(errno);
}

void PosixSerialPort::Write(std::string_view bytes) {
  if (fd_ < 0 || bytes.empty()) return;
  out_.append(bytes);
  ++counts_.writes;
  PushOut();
  lineFreeAt_ = std::max(lineFreeAt_, std::chrono::steady_clock::now()) + LineTime(bytes.size(), baud_);
}

void PosixSerialPort::PushOut() {
  while (fd_ >= 0 && !out_.empty()) {
    const ssize_t n = ::write(fd_, out_.data(), out_.size());
    if (n > 0) {
      out_.erase(0, static_cast<size_t>(n));
    } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
      return;  // the kernel's buffer is full for now
    } else if (errno != EINTR) {
      Fail(std::string("cannot write to the device: ") + std::strerror(errno));
    }
  }
}

void PosixSerialPort::PassWritesToOs() {
  PushOut();
  if (fd_ < 0 || out_.empty()) return;
  const auto deadline = std::chrono::steady_clock::now() + 2 * LineTime(out_.size(), baud_) + kWriteMargin;
  while (fd_ >= 0 && !out_.empty()) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) return;  // stuck: the bytes wait for a later push
    pollfd p{fd_, POLLOUT, 0};
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    if (::poll(&p, 1, static_cast<int>(std::min<int64_t>(ms, 60'000))) > 0 &&
        (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
      Fail("the device hung up");
      return;
    }
    PushOut();
  }
}

void PosixSerialPort::WaitForLine() {
  const auto backlog = lineFreeAt_ - std::chrono::steady_clock::now();
  if (backlog > kMaxLineBacklog) std::this_thread::sleep_for(backlog - kLineBacklogAfterWait);
}

void PosixSerialPort::XmitWait() {
  if (fd_ < 0) return;
  PassWritesToOs();
  WaitForLine();
}

void PosixSerialPort::Drain() {
  if (fd_ < 0) return;
  PassWritesToOs();
  if (fd_ < 0) return;
  posix::Drain(fd_);
  ++counts_.drains;
}

int PosixSerialPort::BytesOnTheWay() const {
  if (fd_ < 0) return 0;
  // A kernel drain that really waited leaves nothing here: the line cannot carry the bytes
  // faster than the model, so it ends after the model's end.
  const auto ahead = lineFreeAt_ - std::chrono::steady_clock::now();
  if (ahead <= std::chrono::nanoseconds::zero()) return 0;
  const int64_t frameNs = LineTime(1, baud_).count();
  return static_cast<int>((std::chrono::nanoseconds(ahead).count() + frameNs - 1) / frameNs);
}

void PosixSerialPort::Flush() {
  if (fd_ < 0) return;
  // Only the input side: bytes written before the flush still go out, now or at the next push.
  PushOut();
  if (fd_ < 0) return;
  ::tcflush(fd_, TCIFLUSH);
  in_.clear();
}

void PosixSerialPort::Pull() {
  if (fd_ < 0) return;
  const InputState input = LookForInput(fd_);
  while (input.readable) {
    char buf[4096];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      in_.append(buf, static_cast<size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else if (n == 0 || errno != EINTR) {
      // 0 from a line set to wait for a byte: it hung up. EIO: the other side is gone.
      Fail(n == 0 ? std::string("the device hung up")
                  : std::string("cannot read from the device: ") + std::strerror(errno));
      return;
    }
  }
  // The other end is gone (adapter unplugged, pseudo-terminal closed): nothing more can come.
  if (input.hungUp) Fail("the device hung up");
}

int PosixSerialPort::BytesAvailable() {
  Pull();
  return fd_ >= 0 ? static_cast<int>(in_.size()) : 0;
}

std::string PosixSerialPort::Read(int n) {
  if (n <= 0) return {};
  Pull();
  if (fd_ < 0) return {};
  const size_t count = std::min(in_.size(), static_cast<size_t>(n));
  std::string bytes = in_.substr(0, count);
  in_.erase(0, count);
  return bytes;
}

PosixSerialService::PosixSerialService(bool systemPorts, std::vector<std::string> extraDevices)
    : systemPorts_(systemPorts), extraDevices_(std::move(extraDevices)) {
  Refresh();
}

bool PosixSerialService::Refresh() {
  entries_.clear();
  if (systemPorts_) {
    for (SystemPort& port : SystemPorts())
      entries_.push_back({port.name, port.device, port.description, port.identity});
  }
  for (const std::string& device : extraDevices_)
    entries_.push_back({device, device, "named device", {StableName(device), "", ""}});
  return true;
}

std::string PosixSerialService::PortName(int i) { return entries_.at(i).name; }
std::string PosixSerialService::Description(int i) { return entries_.at(i).description; }
PortIdentity PosixSerialService::Identity(int i) { return entries_.at(i).identity; }
std::unique_ptr<SerialPort> PosixSerialService::Bind(int i) {
  return std::make_unique<PosixSerialPort>(entries_.at(i).device);
}

}  // namespace bm::posix
