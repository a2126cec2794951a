#include "platform/posix/Interrupts.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <string>
#include <vector>

#include "platform/CommandLoop.h"

namespace bm {
namespace {

int wakeFds[2] = {-1, -1};
volatile std::sig_atomic_t received = 0;

extern "C" void NoteSignal(int) {
  const int saved = errno;
  received = 1;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);  // async-signal-safe
  errno = saved;
}

}  // namespace

void InstallInterruptHandlers() {
  if (wakeFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakeFds) != 0) {
    wakeFds[0] = wakeFds[1] = -1;
  }
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

bool InterruptReceived() { return received != 0; }

std::string ThisProgramPath() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

namespace posix {

int InterruptFd() { return wakeFds[0]; }

int DrainInterruptFd() {
  int signals = 0;
  char bytes[16];
  for (ssize_t n; (n = ::read(wakeFds[0], bytes, sizeof bytes)) > 0;) signals += static_cast<int>(n);
  return signals;
}

}  // namespace posix
}  // namespace bm
