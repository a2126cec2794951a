// The command line's event loop on POSIX: one poll() over the descriptors it watches, the
// interrupt pipe and the open serial lines (ReceivingLines.h), with timers kept by the loop.
//
// A reply-wait pass (processEvents) lasts its full time unless bytes arrive on a serial line; a
// yield turns the loop only when about 10 ms have passed since the last turn (YieldPacer.h), so a
// loop that yields per byte pays a few dozen polls per image, and a slow one is still heard.
#pragma once

#include <chrono>
#include <functional>
#include <map>

#include "platform/CommandLoop.h"
#include "platform/YieldPacer.h"

namespace bm::posix {

class PollLoop : public CommandLoop {
 public:
  PollLoop();
  ~PollLoop() override;
  PollLoop(const PollLoop&) = delete;
  PollLoop& operator=(const PollLoop&) = delete;

  using WatchId = int;
  // Calls `ready` at each turn while `fd` is readable or hung up: the callback must read it, or
  // Unwatch it at its end.
  WatchId WatchInput(int fd, std::function<void()> ready);
  void Unwatch(WatchId watch);

  void processEvents(int maxWaitMs) override;
  void yield() override;
  void Run() override;
  void Quit() override;
  TimerId After(std::chrono::milliseconds delay, std::function<void()> fire) override;
  void Cancel(TimerId timer) override;
  void OnInterrupt(std::function<void()> handler) override;
  std::unique_ptr<ChildProcess> Start(const std::string& program, const std::vector<std::string>& args,
                                      ChildEvents events) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Watch {
    int fd;
    std::function<void()> ready;
  };
  struct Timer {
    Clock::time_point due;
    std::function<void()> fire;
  };

  // One poll of at most `timeout` (none: until something happens), then the due timers and the
  // ready descriptors. Returns whether bytes arrived on a serial line.
  bool Turn(std::optional<Clock::duration> timeout);
  void FireDueTimers();
  void TakeInterrupts();

  std::map<WatchId, Watch> watches_;
  std::map<TimerId, Timer> timers_;
  int nextId_ = 1;
  bool quit_ = false;
  std::function<void()> onInterrupt_;
  int interruptsPending_ = 0;
  YieldPacer pacer_;
};

}  // namespace bm::posix
