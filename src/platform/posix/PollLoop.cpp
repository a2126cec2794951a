#include "platform/posix/PollLoop.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "platform/posix/Interrupts.h"
#include "platform/posix/PosixChild.h"
#include "platform/posix/ReceivingLines.h"

namespace bm::posix {

PollLoop::PollLoop() = default;
PollLoop::~PollLoop() = default;

PollLoop::WatchId PollLoop::WatchInput(int fd, std::function<void()> ready) {
  const WatchId id = NewId();
  watches_[id] = {fd, std::move(ready)};
  return id;
}

void PollLoop::Unwatch(WatchId watch) { watches_.erase(watch); }

bool PollLoop::Turn(std::optional<Clock::duration> timeout) {
  std::vector<pollfd> fds;
  std::vector<WatchId> watchOf;  // the watch of each entry of `fds`; 0 for the others
  const int interruptFd = InterruptFd();
  if (interruptFd >= 0) {
    fds.push_back({interruptFd, POLLIN, 0});
    watchOf.push_back(0);
  }
  const std::vector<ReceivingLine> lines = ReceivingLines();
  for (const ReceivingLine& line : lines) {
    fds.push_back({line.fd, POLLIN, 0});
    watchOf.push_back(0);
  }
  for (const auto& [id, watch] : watches_) {
    fds.push_back({watch.fd, POLLIN, 0});
    watchOf.push_back(id);
  }

  timeout = UntilNextTimer(timeout);
  // A timer is never early: round the wait up to whole microseconds.
  timespec wait{};
  if (timeout) {
    const auto us = std::chrono::ceil<std::chrono::microseconds>(*timeout).count();
    wait.tv_sec = static_cast<time_t>(us / 1'000'000);
    wait.tv_nsec = static_cast<long>(us % 1'000'000 * 1000);
  }
  const int n = ::ppoll(fds.data(), fds.size(), timeout ? &wait : nullptr, nullptr);
  Turned();

  bool bytesArrived = false;
  if (n > 0) {
    size_t i = 0;
    if (interruptFd >= 0 && fds[i++].revents != 0) NoteInterrupts(DrainInterruptFd());
    for (const ReceivingLine& line : lines) {
      if (fds[i++].revents == 0) continue;
      bytesArrived = true;
      // An earlier pull may have closed this line's port (a hang-up ends the port).
      const std::vector<ReceivingLine> now = ReceivingLines();
      const bool stillOpen =
          std::any_of(now.begin(), now.end(), [&line](const ReceivingLine& l) { return l.fd == line.fd; });
      if (stillOpen && line.pull) line.pull();
    }
    for (; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      // A callback may have removed this watch (or any other) by now.
      const auto it = watches_.find(watchOf[i]);
      if (it == watches_.end()) continue;
      const std::function<void()> ready = it->second.ready;
      ready();
    }
  }
  EndTurn();
  return bytesArrived;
}

std::unique_ptr<ChildProcess> PollLoop::Start(const std::string& program,
                                              const std::vector<std::string>& args, ChildEvents events) {
  return std::make_unique<PosixChild>(*this, program, args, std::move(events));
}

}  // namespace bm::posix
