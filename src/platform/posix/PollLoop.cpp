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
  const WatchId id = nextId_++;
  watches_[id] = {fd, std::move(ready)};
  return id;
}

void PollLoop::Unwatch(WatchId watch) { watches_.erase(watch); }

CommandLoop::TimerId PollLoop::After(std::chrono::milliseconds delay, std::function<void()> fire) {
  const TimerId id = nextId_++;
  timers_[id] = {Clock::now() + delay, std::move(fire)};
  return id;
}

void PollLoop::Cancel(TimerId timer) { timers_.erase(timer); }

void PollLoop::OnInterrupt(std::function<void()> handler) { onInterrupt_ = std::move(handler); }

void PollLoop::Quit() { quit_ = true; }

void PollLoop::Run() {
  while (!quit_) Turn(std::nullopt);
  quit_ = false;
}

void PollLoop::processEvents(int maxWaitMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(maxWaitMs);
  // At least one turn: on a loaded machine the pass's time may be gone before it starts, and a
  // pass that looked at nothing would leave Ctrl-C unheard.
  do {
    if (Turn(std::max(Clock::duration::zero(), end - Clock::now()))) break;
  } while (Clock::now() < end);
}

void PollLoop::yield() {
  if (pacer_.Due()) Turn(Clock::duration::zero());
}

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

  if (!timers_.empty()) {
    const auto next = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
                        return a.second.due < b.second.due;
                      })->second.due;
    const auto untilTimer = std::max(Clock::duration::zero(), next - Clock::now());
    timeout = timeout ? std::min(*timeout, untilTimer) : untilTimer;
  }
  // A timer is never early: round the wait up to whole microseconds.
  timespec wait{};
  if (timeout) {
    const auto us = std::chrono::ceil<std::chrono::microseconds>(*timeout).count();
    wait.tv_sec = static_cast<time_t>(us / 1'000'000);
    wait.tv_nsec = static_cast<long>(us % 1'000'000 * 1000);
  }
  const int n = ::ppoll(fds.data(), fds.size(), timeout ? &wait : nullptr, nullptr);
  pacer_.Turned();

  bool bytesArrived = false;
  if (n > 0) {
    size_t i = 0;
    if (interruptFd >= 0 && fds[i++].revents != 0) TakeInterrupts();
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
  FireDueTimers();
  if (interruptsPending_ > 0 && onInterrupt_) {
    const int pending = std::exchange(interruptsPending_, 0);
    for (int k = 0; k < pending && onInterrupt_; ++k) {
      const std::function<void()> handler = onInterrupt_;
      handler();
    }
  }
  return bytesArrived;
}

void PollLoop::FireDueTimers() {
  const auto now = Clock::now();
  std::vector<TimerId> due;
  for (const auto& [id, timer] : timers_)
    if (timer.due <= now) due.push_back(id);
  std::sort(due.begin(), due.end(),
            [this](TimerId a, TimerId b) { return timers_.at(a).due < timers_.at(b).due; });
  for (const TimerId id : due) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) continue;  // cancelled by an earlier one
    const std::function<void()> fire = std::move(it->second.fire);
    timers_.erase(it);
    fire();
  }
}

std::unique_ptr<ChildProcess> PollLoop::Start(const std::string& program,
                                              const std::vector<std::string>& args, ChildEvents events) {
  return std::make_unique<PosixChild>(*this, program, args, std::move(events));
}

void PollLoop::TakeInterrupts() { interruptsPending_ += DrainInterruptFd(); }

}  // namespace bm::posix
