#include "app/cli/Interrupts.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace bm::cli {
namespace {

int wakeFds[2] = {-1, -1};
volatile std::sig_atomic_t received = 0;

extern "C" void NoteSignal(int) {
  received = 1;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakeFds[1], &byte, 1);  // async-signal-safe
}

}  // namespace

Interrupts::Interrupts(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
  if (wakeFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, wakeFds) != 0)
    return;
  notifier_ = std::make_unique<QSocketNotifier>(wakeFds[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
    char bytes[16];
    while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
    }
    if (onSignal_) onSignal_();
  });
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

Interrupts::~Interrupts() {
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
}

bool Interrupts::Received() { return received != 0; }

}  // namespace bm::cli
