#include "platform/win32/Win32Child.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <optional>

#include "platform/win32/Interrupts.h"
#include "platform/win32/Text.h"
#include "platform/win32/Win32Loop.h"

namespace bm::win32 {
namespace {

// How long after a child ended its pipes may still bring output: past that, a grandchild that
// holds them (it inherited them) does not hold up the child's end.
constexpr DWORD kOutputGraceMs = 2000;

// An exit code from here up is an exception's (NTSTATUS), not one the program chose.
constexpr DWORD kExceptionCodes = 0xC0000000;

// The job of this program's children: it kills them when its last handle closes, which is when
// this program exits, however it exits. Made once, never closed.
HANDLE ChildrenJob() {
  static const HANDLE job = [] {
    HANDLE j = ::CreateJobObjectW(nullptr, nullptr);
    if (!j) return j;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    // No error dialog of a crashed child waits for a click that never comes.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    ::SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return j;
  }();
  return job;
}

HANDLE StartThread(std::function<void()> body) {
  auto* work = new std::function<void()>(std::move(body));
  HANDLE thread = ::CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        const std::unique_ptr<std::function<void()>> w(static_cast<std::function<void()>*>(p));
        (*w)();
        return 0;
      },
      work, 0, nullptr);
  if (!thread) delete work;
  return thread;
}

std::wstring QuotedArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  for (auto it = arg.begin();; ++it) {
    size_t backslashes = 0;
    for (; it != arg.end() && *it == L'\\'; ++it) ++backslashes;
    if (it == arg.end()) {
      quoted.append(backslashes * 2, L'\\');  // before the closing quote, each doubled
      break;
    }
    if (*it == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');  // doubled, and one more for the quote
    } else {
      quoted.append(backslashes, L'\\');  // elsewhere as they are
    }
    quoted.push_back(*it);
  }
  quoted.push_back(L'"');
  return quoted;
}

std::optional<std::wstring> Variable(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD n = ::GetEnvironmentVariableW(name, value, 1024);
  if (n == 0 || n >= 1024) return std::nullopt;
  return std::wstring(value, n);
}

std::atomic<unsigned> childrenMade{0};

}  // namespace

std::wstring QuotedCommandLine(const std::wstring& program, const std::vector<std::wstring>& args) {
  std::wstring line = L"\"" + program + L"\"";
  for (const std::wstring& arg : args) line += L" " + QuotedArgument(arg);
  return line;
}

struct Win32Child::Shared {
  Win32Child* owner = nullptr;  // the loop's thread only; null once the object is gone
  HANDLE process = nullptr;
  HANDLE stop = nullptr;  // the child's stop event
  std::atomic<bool> killed{false};

  ~Shared() {
    if (process) ::CloseHandle(process);
    if (stop) ::CloseHandle(stop);
  }
};

Win32Child::Win32Child(std::shared_ptr<Mailbox> mail, const std::string& program,
                       const std::vector<std::string>& args, ChildEvents events)
    : mail_(std::move(mail)), events_(std::move(events)), shared_(std::make_shared<Shared>()) {
  shared_->owner = this;
  running_ = true;
  // As PosixChild: a child that cannot start ends at the loop's next turn, saying why.
  auto cannotStart = [this](const std::string& why) {
    mail_->Post([shared = shared_, why] {
      if (shared->owner) shared->owner->Ended(std::nullopt, why);
    });
  };

  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!::CreatePipe(&outRead, &outWrite, &inherited, 0) ||
      !::CreatePipe(&errRead, &errWrite, &inherited, 0)) {
    const std::string why = SystemMessage(::GetLastError());
    for (HANDLE h : {outRead, outWrite, errRead, errWrite})
      if (h) ::CloseHandle(h);
    cannotStart(why);
    return;
  }
  // Our ends stay ours. (Children are started from the loop's thread only, one after the
  // other, so no other child inherits the child's ends: they are closed here right after.)
  ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nothing = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                 OPEN_EXISTING, 0, nullptr);

  const std::wstring stopName = L"Local\\brindlemark-stop-" + std::to_wstring(::GetCurrentProcessId()) +
                                L"-" + std::to_wstring(++childrenMade);
  shared_->stop = ::CreateEventW(nullptr, TRUE, FALSE, stopName.c_str());

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION created{};
  const std::wstring path = Wide(program);
  std::vector<std::wstring> wideArgs;
  for (const std::string& a : args) wideArgs.push_back(Wide(a));
  std::wstring commandLine = QuotedCommandLine(path, wideArgs);
  // The child finds its stop event by name in its environment; the variable is set for this
  // call only (a child of ours that is itself a board's child keeps no stale one).
  const std::optional<std::wstring> before = Variable(kStopEventVariable);
  ::SetEnvironmentVariableW(kStopEventVariable, shared_->stop ? stopName.c_str() : nullptr);
  // Suspended until it is in the job: it must not start a grandchild outside it.
  const BOOL started =
      ::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr, nullptr, &startup, &created);
  const DWORD startError = ::GetLastError();
  ::SetEnvironmentVariableW(kStopEventVariable, before ? before->c_str() : nullptr);
  for (HANDLE h : {outWrite, errWrite, nothing})
    if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  if (!started) {
    ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    cannotStart(SystemMessage(startError));
    return;
  }
  if (HANDLE job = ChildrenJob()) ::AssignProcessToJobObject(job, created.hProcess);
  ::ResumeThread(created.hThread);
  ::CloseHandle(created.hThread);
  shared_->process = created.hProcess;

  auto reader = [this](HANDLE pipe, bool errors) {
    return [mail = mail_, shared = shared_, pipe, errors] {
      char buffer[4096];
      DWORD n = 0;
      while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr)) {
        if (n == 0) continue;
        mail->Post([shared, errors, bytes = std::string(buffer, n)] {
          if (shared->owner) shared->owner->Output(errors, bytes);
        });
      }
      ::CloseHandle(pipe);  // the end of its output, or the read was cancelled
    };
  };
  HANDLE outThread = StartThread(reader(outRead, false));
  HANDLE errThread = StartThread(reader(errRead, true));
  if (!outThread) ::CloseHandle(outRead);
  if (!errThread) ::CloseHandle(errRead);
  const HANDLE waiter = StartThread([mail = mail_, shared = shared_, outThread, errThread] {
    ::WaitForSingleObject(shared->process, INFINITE);
    // What it wrote before it ended comes first.
    std::vector<HANDLE> readers;
    for (HANDLE t : {outThread, errThread})
      if (t) readers.push_back(t);
    const DWORD count = static_cast<DWORD>(readers.size());
    if (count > 0 && ::WaitForMultipleObjects(count, readers.data(), TRUE, kOutputGraceMs) == WAIT_TIMEOUT) {
      for (HANDLE t : readers) ::CancelSynchronousIo(t);
      ::WaitForMultipleObjects(count, readers.data(), TRUE, kOutputGraceMs);
    }
    for (HANDLE t : readers) ::CloseHandle(t);
    DWORD code = 0;
    ::GetExitCodeProcess(shared->process, &code);
    std::optional<int> status;
    if (!shared->killed && code < kExceptionCodes) status = static_cast<int>(code);
    mail->Post([shared, status] {
      if (shared->owner) shared->owner->Ended(status, "");
    });
  });
  if (waiter) {
    ::CloseHandle(waiter);
  } else {
    // Its end could never be told: it must not run unseen.
    ::TerminateProcess(shared_->process, 1);
    cannotStart("cannot watch the child: " + SystemMessage(::GetLastError()));
  }
}

Win32Child::~Win32Child() {
  if (running_) Kill();
  shared_->owner = nullptr;
}

void Win32Child::Output(bool errors, const std::string& bytes) {
  const auto& to = errors ? events_.errors : events_.output;
  if (to) to(bytes);
}

void Win32Child::Ended(std::optional<int> exitStatus, const std::string& why) {
  if (!running_) return;
  running_ = false;
  if (events_.ended) {
    // The callback may destroy this object: nothing of it is used afterwards.
    const auto ended = events_.ended;
    ended(exitStatus, why);
  }
}

void Win32Child::Terminate() {
  if (running_ && shared_->stop) ::SetEvent(shared_->stop);
}

void Win32Child::Kill() {
  if (!running_ || !shared_->process) return;
  if (::WaitForSingleObject(shared_->process, 0) == WAIT_OBJECT_0) return;  // it ended on its own
  shared_->killed = true;
  ::TerminateProcess(shared_->process, 1);
}

}  // namespace bm::win32
