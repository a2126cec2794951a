// What the command line's loops on both systems share: timers that never fire early, Run and
// Quit, the engine's passes (processEvents, yield) and the interrupt handler. A system's loop
// (posix::PollLoop, win32::Win32Loop) gives only its Turn: one wait of its own over what it
// watches.
//
// A reply-wait pass (processEvents) lasts its full time unless bytes arrive on a serial line; a
// yield turns the loop only when about 10 ms have passed since the last turn (YieldPacer.h).
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/CommandLoop.h"
#include "platform/YieldPacer.h"

namespace bm {

class TurnLoop : public CommandLoop {
 public:
  void Run() override {
    while (!quit_) Turn(std::nullopt);
    quit_ = false;
  }
  void Quit() override { quit_ = true; }

  void processEvents(int maxWaitMs) override {
    const auto end = Clock::now() + std::chrono::milliseconds(maxWaitMs);
    // At least one turn: on a loaded machine the pass's time may be gone before it starts, and a
    // pass that looked at nothing would leave Ctrl-C unheard.
    do {
      if (Turn(std::max(Clock::duration::zero(), end - Clock::now()))) break;
    } while (Clock::now() < end);
  }
  void yield() override {
    if (pacer_.Due()) Turn(Clock::duration::zero());
  }

  TimerId After(std::chrono::milliseconds delay, std::function<void()> fire) override {
    const TimerId id = NewId();
    timers_[id] = {Clock::now() + delay, std::move(fire)};
    return id;
  }
  void Cancel(TimerId timer) override { timers_.erase(timer); }
  void OnInterrupt(std::function<void()> handler) override { onInterrupt_ = std::move(handler); }

 protected:
  using Clock = std::chrono::steady_clock;

  // One wait of at most `timeout` (none: until something happens), then what came; it calls
  // Turned() once the wait is over and EndTurn() last. Returns whether bytes arrived on a
  // serial line.
  virtual bool Turn(std::optional<Clock::duration> timeout) = 0;

  // `timeout` cut to the next timer's due time.
  std::optional<Clock::duration> UntilNextTimer(std::optional<Clock::duration> timeout) const {
    if (timers_.empty()) return timeout;
    const auto next = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
                        return a.second.due < b.second.due;
                      })->second.due;
    const auto untilTimer = std::max(Clock::duration::zero(), next - Clock::now());
    return timeout ? std::min(*timeout, untilTimer) : untilTimer;
  }
  void Turned() { pacer_.Turned(); }
  void NoteInterrupts(int count) { interruptsPending_ += count; }
  // The due timers, in the order they were due, then a handler call per interrupt noted.
  void EndTurn() {
    FireDueTimers();
    if (interruptsPending_ > 0 && onInterrupt_) {
      const int pending = std::exchange(interruptsPending_, 0);
      for (int k = 0; k < pending && onInterrupt_; ++k) {
        const std::function<void()> handler = onInterrupt_;
        handler();
      }
    }
  }
  // Ids for timers and for what a system's loop watches, never reused.
  int NewId() { return nextId_++; }

 private:
  struct Timer {
    Clock::time_point due;
    std::function<void()> fire;
  };

  void FireDueTimers() {
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

  std::map<TimerId, Timer> timers_;
  int nextId_ = 1;
  bool quit_ = false;
  std::function<void()> onInterrupt_;
  int interruptsPending_ = 0;
  YieldPacer pacer_;
};

}  // namespace bm
