#include "platform/posix/PosixChild.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace bm::posix {
namespace {

constexpr auto kEndLookInterval = std::chrono::milliseconds(20);

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

PosixChild::PosixChild(PollLoop& loop, const std::string& program, const std::vector<std::string>& args,
                       ChildEvents events)
    : loop_(loop), events_(std::move(events)) {
  int out[2] = {-1, -1}, err[2] = {-1, -1}, exec[2] = {-1, -1};
  // `exec` is closed by a successful exec; it carries errno when the exec fails.
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(exec, O_CLOEXEC) != 0) {
    const std::string why = std::strerror(errno);
    for (int* pipe : {out, err, exec}) {
      CloseFd(pipe[0]);
      CloseFd(pipe[1]);
    }
    running_ = true;
    loop_.After(std::chrono::milliseconds(0), [this, why] { Ended(std::nullopt, why); });
    return;
  }

  std::vector<std::string> argv0{program};
  argv0.insert(argv0.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv0) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    // In the child: only async-signal-safe calls until exec.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);  // the parent died before the line above
    ::signal(SIGPIPE, SIG_DFL);
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const int nullFd = ::open("/dev/null", O_RDONLY);
    if (nullFd >= 0) ::dup2(nullFd, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::execv(program.c_str(), argv.data());
    const int error = errno;
    [[maybe_unused]] const ssize_t n = ::write(exec[1], &error, sizeof error);
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  ::close(exec[1]);
  running_ = true;
  if (pid_ < 0) {
    const std::string why = std::strerror(errno);
    ::close(out[0]);
    ::close(err[0]);
    ::close(exec[0]);
    loop_.After(std::chrono::milliseconds(0), [this, why] { Ended(std::nullopt, why); });
    return;
  }
  // Also the parent's process group call: whichever runs first, the child is in its own group
  // before the parent sends it anything.
  ::setpgid(pid_, pid_);
  int execError = 0;
  ssize_t n;
  do {
    n = ::read(exec[0], &execError, sizeof execError);
  } while (n < 0 && errno == EINTR);
  ::close(exec[0]);
  out_ = out[0];
  err_ = err[0];
  ::fcntl(out_, F_SETFL, O_NONBLOCK);
  ::fcntl(err_, F_SETFL, O_NONBLOCK);
  if (n == static_cast<ssize_t>(sizeof execError)) {
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
    const std::string why = std::strerror(execError);
    loop_.After(std::chrono::milliseconds(0), [this, why] { Ended(std::nullopt, why); });
    return;
  }
  outWatch_ = loop_.WatchInput(out_, [this] { Read(out_, outWatch_, events_.output); });
  errWatch_ = loop_.WatchInput(err_, [this] { Read(err_, errWatch_, events_.errors); });
  pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd_ >= 0) {
    endWatch_ = loop_.WatchInput(pidfd_, [this] { LookForEnd(); });
  } else {
    endLook_ = loop_.After(kEndLookInterval, [this] { LookForEnd(); });
  }
}

PosixChild::~PosixChild() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  Forget();
}

void PosixChild::Forget() {
  if (outWatch_) loop_.Unwatch(outWatch_);
  if (errWatch_) loop_.Unwatch(errWatch_);
  if (endWatch_) loop_.Unwatch(endWatch_);
  if (endLook_) loop_.Cancel(endLook_);
  outWatch_ = errWatch_ = endWatch_ = endLook_ = 0;
  CloseFd(out_);
  CloseFd(err_);
  CloseFd(pidfd_);
}

void PosixChild::Read(int& fd, PollLoop::WatchId& watch, const std::function<void(std::string_view)>& to) {
  char bytes[4096];
  for (;;) {
    const ssize_t n = ::read(fd, bytes, sizeof bytes);
    if (n > 0) {
      if (to) to(std::string_view(bytes, static_cast<size_t>(n)));
      if (fd < 0) return;  // the callback ended the child
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;
    // The end of its output (or an error reading it): nothing more comes on this pipe.
    loop_.Unwatch(watch);
    watch = 0;
    CloseFd(fd);
    return;
  }
}

void PosixChild::LookForEnd() {
  if (pid_ <= 0) return;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == 0) {
    if (!endWatch_) endLook_ = loop_.After(kEndLookInterval, [this] { LookForEnd(); });
    return;
  }
  pid_ = -1;
  // What it wrote before it ended comes first.
  if (out_ >= 0) Read(out_, outWatch_, events_.output);
  if (err_ >= 0) Read(err_, errWatch_, events_.errors);
  if (done < 0) return Ended(std::nullopt, "");
  Ended(WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt, "");
}

void PosixChild::Ended(std::optional<int> exitStatus, const std::string& why) {
  if (!running_) return;
  running_ = false;
  Forget();
  if (events_.ended) {
    // The callback may destroy this object: nothing of it is used afterwards.
    const auto ended = events_.ended;
    ended(exitStatus, why);
  }
}

void PosixChild::Terminate() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
}

void PosixChild::Kill() {
  if (pid_ > 0) ::kill(pid_, SIGKILL);
}

}  // namespace bm::posix
