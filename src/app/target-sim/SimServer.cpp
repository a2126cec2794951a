#include "app/target-sim/SimServer.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <optional>

#include "app/target-sim/AdapterBuffer.h"
#include "base/ByteTrace.h"

namespace bm::targetsim {
namespace {

constexpr double kHostCheckMs = 5;  // how often an absent host is looked for

void PrintTrace(const char* label, const std::string& bytes) {
  std::fprintf(stderr, "%s\n", TraceLine(label, bytes).c_str());
}

class Server {
 public:
  Server(sim::SimTarget& target, PtyLine& line, const ServeOptions& options,
         const std::function<double()>& nowMs)
      : target_(target), line_(line), options_(options), nowMs_(nowMs) {
    // Its timer runs from the tool's start, the zero of `nowMs`.
    if (options.adapterLatencyMs > 0) adapter_.emplace(options.adapterLatencyMs);
  }

  void Run() {
    while (true) {
      if (line_.master >= 0 && hostPresent_) {
        std::string reply;
        while (target_.Available() > 0) {
          // The adapter's timer ticks whenever this tool gets to run: a reply meets the tick
          // after the moment its bytes crossed the line, not the one after this look.
          const double crossedMs = target_.NextReplyDueMs();
          const std::string bytes = target_.Take(1);
          reply += bytes;
          out_ += adapter_ ? adapter_->Pass(bytes, crossedMs) : bytes;
        }
        if (options_.trace && !reply.empty()) PrintTrace("received:", reply);
        if (adapter_) out_ += adapter_->Pass({}, nowMs_());
        WriteOut();
      }
      if (target_.Vanished() && line_.master >= 0) {
        ::close(line_.master);
        line_.master = -1;
        out_.clear();
        if (adapter_) adapter_->Clear();
      }
      if (options_.exitAfterStop && target_.Started() && out_.empty() && (!adapter_ || adapter_->Empty()))
        return;
      if (!WaitAndHandle()) return;
    }
  }

 private:
  // One poll; false when the tool is to end.
  bool WaitAndHandle() {
    pollfd fds[4];
    nfds_t count = 0;
    fds[count++] = {options_.signalFd, POLLIN, 0};
    const int stdinAt = watchStdin_ ? static_cast<int>(count) : -1;
    if (watchStdin_) fds[count++] = {STDIN_FILENO, POLLIN, 0};
    const int masterAt = line_.master >= 0 && hostPresent_ ? static_cast<int>(count) : -1;
    if (masterAt >= 0)
      fds[count++] = {line_.master, static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0};
    // After the master: poll looks at the descriptors in order, and a host opens the device
    // before it writes, so bytes seen on the master mean their opening is seen here too.
    const int opensAt = opens_ >= 0 ? static_cast<int>(count) : -1;
    if (opensAt >= 0) fds[count++] = {opens_, POLLIN, 0};

    double waitMs = INFINITY;
    if (line_.master >= 0 && !hostPresent_) waitMs = kHostCheckMs;
    if (masterAt >= 0) {
      double dueMs = target_.NextReplyDueMs();
      if (adapter_) dueMs = std::fmin(dueMs, adapter_->NextSendMs());
      waitMs = std::fmax(0, dueMs - nowMs_());
    }
    timespec ts{};
    const bool bounded = std::isfinite(waitMs);
    if (bounded) {
      ts.tv_sec = static_cast<time_t>(waitMs / 1000);
      ts.tv_nsec = static_cast<long>(std::fmod(waitMs, 1000) * 1e6);
    }
    if (::ppoll(fds, count, bounded ? &ts : nullptr, nullptr) < 0 && errno != EINTR) return false;

    if (fds[0].revents) return false;
    if (stdinAt >= 0 && fds[stdinAt].revents && !HandleStdin()) return false;
    const bool reopened = opensAt >= 0 && fds[opensAt].revents && TakeOpens();
    // A host that closed the device and opened it again since the poll: the hang-up the poll saw
    // was the old session's, and must not end the new one (nothing else would start it again).
    short masterEvents = masterAt >= 0 ? fds[masterAt].revents : 0;
    if (reopened) masterEvents &= static_cast<short>(~(POLLHUP | POLLERR));
    if (masterEvents) HandleMaster(masterEvents);
    if (line_.master >= 0 && !hostPresent_) LookForHost();
    return true;
  }

  // A host that opened the device, or opened it, wrote and closed it again between two looks
  // (its bytes still wait in the master): either way a new session on a freshly reset board.
  void LookForHost() {
    if (opens_ >= 0) return;  // TakeOpens sees every opening
    pollfd p{line_.master, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0) return;
    const bool hungUp = p.revents & POLLHUP;
    const bool bytes = p.revents & POLLIN;
    if (hungUp && !bytes) return;
    NewSession();
    if (bytes) HandleMaster(p.revents);
  }

  // A host opened the device: a freshly reset board, nothing left over from before.
  void NewSession() {
    hostPresent_ = true;
    out_.clear();
    if (adapter_) adapter_->Clear();
    target_.DropArrived();
    if (target_.Config().restartOnOpen) target_.Restart();
  }

  // Starts a new session when the line came up since the last look: the first descriptor on the
  // device opened, as a board resets on the DTR edge of the first opening. A further descriptor
  // on a line that is already open (another program looking whether the port is free) changes no
  // modem line, and the running session goes on. Called before the master is read (see the order
  // of the poll), so bytes of a new session never reach the board of the old one. Returns
  // whether it started one.
  bool TakeOpens() {
    if (opens_ < 0) return false;
    alignas(inotify_event) char buf[4096];
    bool opened = false;
    ssize_t n;
    while ((n = ::read(opens_, buf, sizeof buf)) > 0) {
      for (char* p = buf; p < buf + n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(p);
        if (event->mask & IN_OPEN) opened |= openers_++ == 0;
        if ((event->mask & IN_CLOSE) && openers_ > 0) --openers_;
        p += sizeof(inotify_event) + event->len;
      }
    }
    if (opened) NewSession();
    return opened;
  }

  bool HandleStdin() {
    char buf[256];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n == 0) return false;  // end of input
    if (n < 0) {
      if (errno != EINTR && errno != EAGAIN) watchStdin_ = false;
      return true;
    }
    input_.append(buf, static_cast<size_t>(n));
    for (size_t eol; (eol = input_.find('\n')) != std::string::npos;) {
      std::string lineText = input_.substr(0, eol);
      input_.erase(0, eol + 1);
      if (!lineText.empty() && lineText.back() == '\r') lineText.pop_back();
      if (lineText == "quit") return false;
    }
    return true;
  }

  void HandleMaster(short revents) {
    if (revents & POLLIN) {
      char buf[4096];
      while (true) {
        const ssize_t n = ::read(line_.master, buf, sizeof buf);
        if (n > 0) {
          const std::string bytes(buf, static_cast<size_t>(n));
          if (options_.trace) PrintTrace("sent:", bytes);
          target_.Receive(bytes, HostBaud(line_.master));
          continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        hostPresent_ = false;  // EIO: the host closed the device
        return;
      }
    }
    if (revents & (POLLHUP | POLLERR)) hostPresent_ = false;
  }

  void WriteOut() {
    while (!out_.empty()) {
      const ssize_t n = ::write(line_.master, out_.data(), out_.size());
      if (n <= 0) return;  // full for now; poll waits for room
      out_.erase(0, static_cast<size_t>(n));
    }
  }

  sim::SimTarget& target_;
  PtyLine& line_;
  const ServeOptions& options_;
  const std::function<double()>& nowMs_;
  bool watchStdin_ = options_.watchStdin;
  bool hostPresent_ = false;
  // Every opening of the device's first descriptor is a new session. A close and a quick reopen
  // between two looks leave no hang-up to see on the master, but each opening and closing is an
  // event here.
  const int opens_ = line_.opens;
  int openers_ = 0;                       // descriptors open on the device, by the opening and closing events
  std::optional<AdapterBuffer> adapter_;  // replies pass it when an adapter latency is given
  std::string out_;                       // reply bytes waiting for room in the pseudo-terminal
  std::string input_;                     // partial line from standard input
};

}  // namespace

void Serve(sim::SimTarget& target, PtyLine& line, const ServeOptions& options,
           const std::function<double()>& nowMs) {
  Server(target, line, options, nowMs).Run();
}

}  // namespace bm::targetsim
