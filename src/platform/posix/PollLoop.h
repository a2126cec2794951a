// The command line's event loop on POSIX: one poll() over the descriptors it watches, the
// interrupt pipe and the open serial lines (ReceivingLines.h); the timers and the passes are
// TurnLoop's.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>

#include "platform/TurnLoop.h"

namespace bm::posix {

class PollLoop : public TurnLoop {
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

  std::unique_ptr<ChildProcess> Start(const std::string& program, const std::vector<std::string>& args,
                                      ChildEvents events) override;

 private:
  struct Watch {
    int fd;
    std::function<void()> ready;
  };

  // One poll of at most `timeout` (none: until something happens), then the ready descriptors
  // and the due timers.
  bool Turn(std::optional<Clock::duration> timeout) override;

  std::map<WatchId, Watch> watches_;
};

}  // namespace bm::posix
