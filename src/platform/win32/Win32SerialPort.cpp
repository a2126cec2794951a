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

// What an open port holds of the system. The reader thread owns the reads, the writer thread the
// writes. `lock` guards what the reader and the program's thread share (`received`, `failure`);
// `outLock` what the writer and the program's thread share (`pending`, `writing`, `closing`).
struct Win32SerialPort::Io {
  HANDLE port = INVALID_HANDLE_VALUE;
  HANDLE arrived = nullptr;  // manual reset: set while received bytes or a failure wait; the line's event
  HANDLE stop = nullptr;     // manual reset: the threads end (a pending read or write is cancelled)
  std::thread reader, writer;
  std::mutex lock;
  std::string received;
  std::string failure;  // the first error of either thread; empty while the device works
  // Counts the flushes: bytes the reader had in hand when one came are dropped with the rest.
  std::atomic<uint64_t> flushes{0};
  // Written bytes the writer has not taken yet. It takes all of them for one WriteFile, so the
  // bytes written while a WriteFile runs go out together with the next one. (A slim lock and a
  // condition variable: no call into the system when nobody waits, which under wine would be a
  // round trip to its server for every byte.)
  SRWLOCK outLock = SRWLOCK_INIT;
  CONDITION_VARIABLE outChanged = CONDITION_VARIABLE_INIT;  // bytes to write, all written, closing
  std::string pending;
  bool writing = false;  // the writer has taken bytes it has not yet seen out of its hands
  bool closing = false;  // the port closes, or the writer failed: it takes nothing more
  std::atomic<int64_t>* writeCalls = nullptr;  // the port's count of WriteFile calls

  ~Io() {
    for (HANDLE h : {arrived, stop})
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

  // The writer thread: takes every byte written so far, hands them to the driver in one
  // WriteFile and waits for it to end, then takes what came meanwhile.
  void WriteOut() {
    OVERLAPPED write{};
    write.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::string batch;
    for (;;) {
      ::AcquireSRWLockExclusive(&outLock);
      while (pending.empty() && !closing) ::SleepConditionVariableSRW(&outChanged, &outLock, INFINITE, 0);
      if (closing) {
        ::ReleaseSRWLockExclusive(&outLock);
        break;
      }
      batch.swap(pending);
      pending.clear();
      writing = true;
      ::ReleaseSRWLockExclusive(&outLock);

      DWORD error = 0;
      bool stopped = false;
      for (size_t sent = 0; sent < batch.size() && error == 0 && !stopped;) {
        ++*writeCalls;
        // WriteFile resets the event itself.
        DWORD n = 0;
        if (!::WriteFile(port, batch.data() + sent, static_cast<DWORD>(batch.size() - sent), &n, &write)) {
          error = ::GetLastError();
          if (error == ERROR_IO_PENDING) {
            error = 0;
            stopped = !Await(write, n, error);
          }
        } else {
          ::GetOverlappedResult(port, &write, &n, FALSE);
        }
        // No write timeouts are set: a write ends when the driver took every byte. One that took
        // none would never end.
        if (error == 0 && !stopped && n == 0) error = ERROR_WRITE_FAULT;
        sent += n;
      }
      if (error != 0) Failed("cannot write to the device: " + SystemMessage(error));
      ::AcquireSRWLockExclusive(&outLock);
      writing = false;
      closing |= error != 0 || stopped;
      ::WakeAllConditionVariable(&outChanged);
      ::ReleaseSRWLockExclusive(&outLock);
      if (error != 0 || stopped) break;
    }
    ::CloseHandle(write.hEvent);
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
  io->writeCalls = &writeCalls_;
  if (!io->arrived || !io->stop)
    return Refuse(
        {OpenFailure::Kind::Other, "", "cannot make an event: " + SystemMessage(::GetLastError()), ""});
  ::timeBeginPeriod(1);
  io->reader = std::thread([raw = io.get()] { raw->Read(); });
  io->writer = std::thread([raw = io.get()] { raw->WriteOut(); });
  io_ = std::move(io);
  in_.clear();
  lineFreeAt_ = {};
  AddReceivingLine(io_->arrived, [this] { Pull(); });
  return true;
}

void Win32SerialPort::Release() {
  if (!io_) return;
  RemoveReceivingLine(io_->arrived);
  ::AcquireSRWLockExclusive(&io_->outLock);
  io_->closing = true;
  ::WakeAllConditionVariable(&io_->outChanged);
  ::ReleaseSRWLockExclusive(&io_->outLock);
  ::SetEvent(io_->stop);
  if (io_->reader.joinable()) io_->reader.join();
  if (io_->writer.joinable()) io_->writer.join();
  io_.reset();  // and with it the handle
  ::timeEndPeriod(1);
  in_.clear();
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
  if (!io_) return 0;
  ::AcquireSRWLockShared(&io_->outLock);
  const int bytes = static_cast<int>(io_->pending.size());
  ::ReleaseSRWLockShared(&io_->outLock);
  return bytes;
}

void Win32SerialPort::Write(std::string_view bytes) {
  if (!io_ || bytes.empty()) return;
  ::AcquireSRWLockExclusive(&io_->outLock);
  io_->pending.append(bytes);
  // A writer in the middle of a WriteFile takes these with its next one; only an idle one waits.
  if (!io_->writing) ::WakeAllConditionVariable(&io_->outChanged);
  ::ReleaseSRWLockExclusive(&io_->outLock);
  lineFreeAt_ = std::max(lineFreeAt_, std::chrono::steady_clock::now()) + LineTime(bytes.size(), baud_);
}

void Win32SerialPort::PassWritesToOs(std::chrono::nanoseconds waiting) {
  if (!io_) return;
  Io& io = *io_;
  ::AcquireSRWLockExclusive(&io.outLock);
  const auto deadline =
      std::chrono::steady_clock::now() + 2 * LineTime(io.pending.size(), baud_) + kWriteMargin;
  auto behind = [&] {
    return waiting > std::chrono::nanoseconds::zero() ? LineTime(io.pending.size(), baud_) > waiting
                                                      : !io.pending.empty() || io.writing;
  };
  while (behind() && !io.closing) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) break;  // stuck: the bytes go when the driver takes them
    ::SleepConditionVariableSRW(&io.outChanged, &io.outLock, Milliseconds(left), 0);
  }
  const bool failed = io.closing;
  ::ReleaseSRWLockExclusive(&io.outLock);
  if (failed) Pull();  // the writer's error, kept as the reader's is
}

void Win32SerialPort::WaitForLine() {
  const auto backlog = lineFreeAt_ - std::chrono::steady_clock::now();
  if (backlog > kMaxLineBacklog) SleepAtLeast(backlog - kLineBacklogAfterWait);
}

void Win32SerialPort::XmitWait() {
  if (!io_) return;
  // The writer thread keeps up with the line on its own; only one that fell behind (a device
  // that takes nothing) holds the program back.
  PassWritesToOs(kMaxLineBacklog);
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
  // Only the input side: bytes written before the flush still go out (the writer has them).
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
