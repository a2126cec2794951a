#include "platform/win32/Win32SerialPort.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h: it needs its types.
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <thread>

#include "platform/win32/ReceivingLines.h"
#include "platform/win32/SystemPorts.h"
#include "platform/win32/Text.h"
#include "protocol/wire.h"

namespace bm::win32 {
namespace {

// A write that has not left after its line time twice over plus this margin is stuck (a
// reader that stopped reading, a dead adapter); waiting longer would freeze the program.
constexpr auto kWriteMargin = std::chrono::seconds(1);

// How far the written bytes may run ahead of the line before XmitWait holds the writer back, as
// on POSIX (PosixSerialPort.cpp): far below the 50 ms reply window, and enough to keep the line
// busy without a sleep per byte.
constexpr auto kMaxLineBacklog = std::chrono::milliseconds(4);
constexpr auto kLineBacklogAfterWait = std::chrono::milliseconds(2);

// Reads that end in ERROR_OPERATION_ABORTED without our asking, one after the other, before the
// device counts as gone (a driver aborts the reads of an adapter being unplugged).
constexpr int kAbortsBeforeFailure = 3;

constexpr const char* kBusy = "busy — another program holds it";

std::chrono::nanoseconds LineTime(size_t bytes, int baud) {
  return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * WIRE_BITS_PER_FRAME * 1'000'000'000LL /
                                  std::max(baud, 1));
}

// The line settings of the bootloader link: 8 data bits, no parity, 2 stop bits, no handshake in
// either direction, DTR and RTS raised, at `baud`.
bool Configure(HANDLE port, int baud) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(port, &dcb)) return false;
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.Parity = NOPARITY;
  dcb.ByteSize = 8;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;  // a framing error must not stop every read until it is cleared
  return ::SetCommState(port, &dcb) != 0;
}

// Sleeps at least `d`: std::this_thread::sleep_for rounds down to whole milliseconds there (and
// to nothing below one).
void SleepAtLeast(std::chrono::nanoseconds d) {
  if (d <= std::chrono::nanoseconds::zero()) return;
  ::Sleep(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(d).count()));
}

DWORD Milliseconds(std::chrono::nanoseconds d) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
  return static_cast<DWORD>(std::clamp<int64_t>(ms, 0, 60'000));
}

}  // namespace

// What an open port holds of the system. The reader thread owns the reads; the program's thread
// owns the writes; `lock` guards what they share (`received`, `failure`).
struct Win32SerialPort::Io {
  HANDLE port = INVALID_HANDLE_VALUE;
  HANDLE arrived = nullptr;  // manual reset: set while received bytes or a failure wait; the line's event
  HANDLE stop = nullptr;     // manual reset: the reader ends
  std::thread reader;
  std::mutex lock;
  std::string received;
  std::string failure;  // the reader's first error; empty while the device works
  // Counts the flushes: bytes the reader had in hand when one came are dropped with the rest.
  std::atomic<uint64_t> flushes{0};
  // The write in flight; its bytes must live until it ends.
  OVERLAPPED write{};
  std::string writing;
  bool writePending = false;

  ~Io() {
    for (HANDLE h : {arrived, stop, write.hEvent})
      if (h) ::CloseHandle(h);
    if (port != INVALID_HANDLE_VALUE) ::CloseHandle(port);
  }

  void Failed(const std::string& why) {
    std::lock_guard<std::mutex> hold(lock);
    if (failure.empty()) failure = why;
    ::SetEvent(arrived);
  }

  // Waits for the overlapped operation `op` to end, or for the port to close: then it is
  // cancelled, waited for, and false returned.
  bool Await(OVERLAPPED& op, DWORD& bytes, DWORD& error) {
    HANDLE events[2] = {stop, op.hEvent};
    if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
      ::CancelIoEx(port, &op);
      ::GetOverlappedResult(port, &op, &bytes, TRUE);
      return false;
    }
    error = ::GetOverlappedResult(port, &op, &bytes, FALSE) ? 0 : ::GetLastError();
    return true;
  }

  // The reader thread. Reads are set to return at once (COMMTIMEOUTS): on a real port a read
  // with nothing waiting ends with no bytes, and WaitCommEvent then waits for the next one; wine
  // keeps such a read pending until bytes come. Either way the thread sleeps until bytes arrive
  // and never spins.
  void Read() {
    OVERLAPPED read{};
    OVERLAPPED event{};
    read.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    event.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    char buffer[4096];
    int aborts = 0;
    for (;;) {
      DWORD n = 0, error = 0;
      if (!::ReadFile(port, buffer, sizeof buffer, &n, &read)) {
        error = ::GetLastError();
        if (error == ERROR_IO_PENDING && !Await(read, n, error)) break;
      } else {
        ::GetOverlappedResult(port, &read, &n, FALSE);
      }
      const uint64_t flushesThen = flushes.load();
      if (error == 0 && n > 0) {
        aborts = 0;
        std::lock_guard<std::mutex> hold(lock);
        if (flushes.load() == flushesThen) {
          received.append(buffer, n);
          ::SetEvent(arrived);
        }
        continue;
      }
      if (error == ERROR_OPERATION_ABORTED && ++aborts < kAbortsBeforeFailure) continue;
      if (error != 0) {
        Failed(error == ERROR_BROKEN_PIPE ? std::string("the device hung up")
                                          : "cannot read from the device: " + SystemMessage(error));
        break;
      }
      // Nothing waits: the driver tells of the next byte (or of a line error).
      DWORD mask = 0;
      if (!::WaitCommEvent(port, &mask, &event)) {
        error = ::GetLastError();
        if (error == ERROR_IO_PENDING && !Await(event, n, error)) break;
      }
      if (error == ERROR_OPERATION_ABORTED && ++aborts < kAbortsBeforeFailure) continue;
      if (error != 0) {
        Failed("cannot wait for the device: " + SystemMessage(error));
        break;
      }
      if (mask & EV_ERR) {
        DWORD errors = 0;
        COMSTAT state{};
        if (!::ClearCommError(port, &errors, &state)) {
          Failed("the device failed: " + SystemMessage(::GetLastError()));
          break;
        }
      }
      // A driver that cannot tell of bytes (no modem lines to watch) ends the wait with nothing:
      // the next read is a millisecond away, never a busy loop.
      if (mask == 0) ::Sleep(1);
    }
    ::CloseHandle(read.hEvent);
    ::CloseHandle(event.hEvent);
  }
};

OpenFailure ExplainOpenFailure(unsigned long error, const std::string& systemText) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return {OpenFailure::Kind::Busy, "", kBusy, ""};
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_UNIT:
      return {OpenFailure::Kind::NoDevice, "", systemText, ""};
    default:
      return {OpenFailure::Kind::Other, "", systemText, ""};
  }
}

std::string DevicePath(const std::string& name) {
  if (name.rfind("\\\\.\\", 0) == 0 || name.rfind("\\\\?\\", 0) == 0) return name;
  return "\\\\.\\" + name;
}

std::string CanonicalPortName(const std::string& name) {
  std::string bare = name.rfind("\\\\.\\", 0) == 0 ? name.substr(4) : name;
  const bool com = bare.size() > 3 && (bare[0] == 'c' || bare[0] == 'C') &&
                   (bare[1] == 'o' || bare[1] == 'O') && (bare[2] == 'm' || bare[2] == 'M') &&
                   std::all_of(bare.begin() + 3, bare.end(), [](unsigned char c) { return std::isdigit(c); });
  if (!com) return name;
  return "COM" + bare.substr(3);
}

Win32SerialPort::Win32SerialPort(std::string name) : name_(std::move(name)) {}

Win32SerialPort::~Win32SerialPort() { Close(); }

bool Win32SerialPort::Refuse(OpenFailure failure) {
  if (error_.empty()) error_ = failure.detail;
  openFailure_ = std::move(failure);
  return false;
}

bool Win32SerialPort::Open() {
  if (IsOpen()) return true;
  error_.clear();
  openFailure_ = {};
  // No sharing: a port another program holds refuses us, and nobody gets in while we hold it.
  HANDLE port = ::CreateFileW(Wide(DevicePath(name_)).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    const DWORD e = ::GetLastError();
    return Refuse(ExplainOpenFailure(e, SystemMessage(e)));
  }
  auto io = std::make_unique<Io>();
  io->port = port;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(port, &dcb))
    return Refuse(
        {OpenFailure::Kind::Other, "", "not a serial device: " + SystemMessage(::GetLastError()), ""});
  if (!Configure(port, baud_))
    return Refuse(
        {OpenFailure::Kind::Other, "",
         "cannot set the line to " + std::to_string(baud_) + " baud: " + SystemMessage(::GetLastError()),
         ""});
  // Reads return at once with what is there; writes wait as long as the line needs.
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
  ::SetCommTimeouts(port, &timeouts);
  ::SetCommMask(port, EV_RXCHAR | EV_ERR);
  io->arrived = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  io->stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  io->write.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!io->arrived || !io->stop || !io->write.hEvent)
    return Refuse(
        {OpenFailure::Kind::Other, "", "cannot make an event: " + SystemMessage(::GetLastError()), ""});
  ::timeBeginPeriod(1);
  io->reader = std::thread([raw = io.get()] { raw->Read(); });
  io_ = std::move(io);
  in_.clear();
  out_.clear();
  lineFreeAt_ = {};
  AddReceivingLine(io_->arrived, [this] { Pull(); });
  return true;
}

void Win32SerialPort::Release() {
  if (!io_) return;
  RemoveReceivingLine(io_->arrived);
  ::SetEvent(io_->stop);
  if (io_->reader.joinable()) io_->reader.join();
  if (io_->writePending) {
    DWORD n = 0;
    ::CancelIoEx(io_->port, &io_->write);
    ::GetOverlappedResult(io_->port, &io_->write, &n, TRUE);
  }
  io_.reset();  // and with it the handle
  ::timeEndPeriod(1);
  in_.clear();
  out_.clear();
}

void Win32SerialPort::Fail(const std::string& why) {
  if (error_.empty()) error_ = why;
  Release();
}

void Win32SerialPort::Close() {
  if (!io_) return;
  // A farewell "X" must reach the target.
  Drain();
  if (!io_) return;
  // Some adapters report drained while their own buffer still holds the bytes: the line model's
  // time plus one frame covers what they still have to send.
  SleepAtLeast(lineFreeAt_ + LineTime(1, baud_) - std::chrono::steady_clock::now());
  Release();
}

void Win32SerialPort::SetBaudRate(int baud) {
  if (baud == baud_) return;
  if (io_) Drain();  // bytes still on their way keep the rate they were sent at
  baud_ = baud;
  if (io_ && !Configure(io_->port, baud_) && error_.empty())
    error_ = "the device refused " + std::to_string(baud_) + " baud: " + SystemMessage(::GetLastError());
}

int Win32SerialPort::BytesNotTaken() const {
  return io_ ? static_cast<int>(out_.size() + io_->writing.size()) : 0;
}

void Win32SerialPort::Write(std::string_view bytes) {
  if (!io_ || bytes.empty()) return;
  out_.append(bytes);
  ++counts_.writes;
  PushOut();
  lineFreeAt_ = std::max(lineFreeAt_, std::chrono::steady_clock::now()) + LineTime(bytes.size(), baud_);
}

void Win32SerialPort::PushOut() {
  while (io_) {
    Io& io = *io_;
    if (io.writePending) {
      DWORD n = 0;
      if (!::GetOverlappedResult(io.port, &io.write, &n, FALSE)) {
        const DWORD e = ::GetLastError();
        if (e == ERROR_IO_INCOMPLETE) return;  // still going out
        return Fail("cannot write to the device: " + SystemMessage(e));
      }
      io.writePending = false;
      // A write that ended early (the driver's own timeout) leaves the rest to go again, first.
      if (n < io.writing.size()) out_.insert(0, io.writing, n, std::string::npos);
      io.writing.clear();
      if (n == 0) return;  // taken nothing: again at the next push, not in a loop
    }
    if (out_.empty()) return;
    io.writing.swap(out_);
    out_.clear();
    // WriteFile resets the write's event itself: no call of our own per byte (under wine each
    // is a round trip to its server).
    DWORD n = 0;
    if (!::WriteFile(io.port, io.writing.data(), static_cast<DWORD>(io.writing.size()), &n, &io.write)) {
      const DWORD e = ::GetLastError();
      if (e != ERROR_IO_PENDING) return Fail("cannot write to the device: " + SystemMessage(e));
    }
    io.writePending = true;  // ended at once or not, its result is read above
  }
}

void Win32SerialPort::PassWritesToOs() {
  PushOut();
  if (!io_ || (!io_->writePending && out_.empty())) return;
  const auto deadline = std::chrono::steady_clock::now() +
                        2 * LineTime(out_.size() + io_->writing.size(), baud_) + kWriteMargin;
  while (io_ && (io_->writePending || !out_.empty())) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) return;  // stuck: the bytes wait for a later push
    if (io_->writePending) ::WaitForSingleObject(io_->write.hEvent, Milliseconds(left));
    PushOut();
  }
}

void Win32SerialPort::WaitForLine() {
  const auto backlog = lineFreeAt_ - std::chrono::steady_clock::now();
  if (backlog > kMaxLineBacklog) SleepAtLeast(backlog - kLineBacklogAfterWait);
}

void Win32SerialPort::XmitWait() {
  if (!io_) return;
  PassWritesToOs();
  WaitForLine();
}

void Win32SerialPort::Drain() {
  if (!io_) return;
  PassWritesToOs();
  if (!io_) return;
  ++counts_.drains;
  if (!::FlushFileBuffers(io_->port)) Fail("cannot drain the device: " + SystemMessage(::GetLastError()));
}

int Win32SerialPort::BytesOnTheWay() const {
  if (!io_) return 0;
  const auto ahead = lineFreeAt_ - std::chrono::steady_clock::now();
  if (ahead <= std::chrono::nanoseconds::zero()) return 0;
  const int64_t frameNs = LineTime(1, baud_).count();
  return static_cast<int>((std::chrono::nanoseconds(ahead).count() + frameNs - 1) / frameNs);
}

void Win32SerialPort::Flush() {
  if (!io_) return;
  // Only the input side: bytes written before the flush still go out, now or at the next push.
  PushOut();
  if (!io_) return;
  {
    std::lock_guard<std::mutex> hold(io_->lock);
    ::PurgeComm(io_->port, PURGE_RXCLEAR);
    ++io_->flushes;
    io_->received.clear();
    if (io_->failure.empty()) ::ResetEvent(io_->arrived);
  }
  in_.clear();
}

void Win32SerialPort::Pull() {
  if (!io_) return;
  std::string failure;
  {
    std::lock_guard<std::mutex> hold(io_->lock);
    in_ += io_->received;
    io_->received.clear();
    failure = io_->failure;
    if (failure.empty()) ::ResetEvent(io_->arrived);
  }
  // The device is gone (unplugged adapter, closed pseudo-terminal under wine): nothing more comes.
  if (!failure.empty()) Fail(failure);
}

int Win32SerialPort::BytesAvailable() {
  Pull();
  return io_ ? static_cast<int>(in_.size()) : 0;
}

std::string Win32SerialPort::Read(int n) {
  if (n <= 0) return {};
  Pull();
  if (!io_) return {};
  const size_t count = std::min(in_.size(), static_cast<size_t>(n));
  std::string bytes = in_.substr(0, count);
  in_.erase(0, count);
  return bytes;
}

Win32SerialService::Win32SerialService(bool systemPorts, std::vector<std::string> extraPorts)
    : systemPorts_(systemPorts), extraPorts_(std::move(extraPorts)) {
  Refresh();
}

bool Win32SerialService::Refresh() {
  entries_.clear();
  if (systemPorts_)
    for (SystemPort& port : SystemPorts()) entries_.push_back({port.name, port.description, port.identity});
  for (const std::string& name : extraPorts_) entries_.push_back({name, "named device", {}});
  return true;
}

std::string Win32SerialService::PortName(int i) { return entries_.at(i).name; }
std::string Win32SerialService::Description(int i) { return entries_.at(i).description; }
PortIdentity Win32SerialService::Identity(int i) { return entries_.at(i).identity; }
std::unique_ptr<SerialPort> Win32SerialService::Bind(int i) {
  return std::make_unique<Win32SerialPort>(entries_.at(i).name);
}

}  // namespace bm::win32
