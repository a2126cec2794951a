// The command line's event loop on Windows: one MsgWaitForMultipleObjectsEx over the interrupt
// event, the open serial lines' events (ReceivingLines.h), the handles it watches (file change
// notifications) and the mailbox other threads hand their work to (the pipes of the children),
// and the thread's window messages dispatched (port arrivals); the timers and the passes are
// TurnLoop's, as posix::PollLoop's. The system's timer runs at 1 ms while the loop exists
// (timeBeginPeriod), so a 1 ms pass is not 15.6 ms.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/TurnLoop.h"

namespace bm::win32 {

// Work other threads hand to the loop's thread: each callback runs at the loop's next turn, in
// the order posted. Shared with the threads, so one that outlives the loop posts into nothing.
class Mailbox {
 public:
  Mailbox();
  ~Mailbox();
  Mailbox(const Mailbox&) = delete;
  Mailbox& operator=(const Mailbox&) = delete;

  // From any thread.
  void Post(std::function<void()> work);
  // The loop's thread: what was posted so far, in order.
  std::vector<std::function<void()>> Take();
  void Close();  // the loop is gone: later posts are dropped
  void* Wake() const { return wake_; }

 private:
  std::mutex lock_;
  std::vector<std::function<void()>> posted_;
  bool closed_ = false;
  void* wake_ = nullptr;  // auto-reset event, set at each post
};

class Win32Loop : public TurnLoop {
 public:
  Win32Loop();
  ~Win32Loop() override;
  Win32Loop(const Win32Loop&) = delete;
  Win32Loop& operator=(const Win32Loop&) = delete;

  using WatchId = int;
  // Calls `ready` at each turn while `handle` is signalled: the callback must reset it (a change
  // notification: FindNextChangeNotification) or Unwatch it.
  WatchId Watch(void* handle, std::function<void()> ready);
  void Unwatch(WatchId watch);
  const std::shared_ptr<Mailbox>& Mail() const { return mail_; }

  std::unique_ptr<ChildProcess> Start(const std::string& program, const std::vector<std::string>& args,
                                      ChildEvents events) override;

 private:
  struct Watched {
    void* handle;
    std::function<void()> ready;
  };

  // One wait of at most `timeout` (none: until something happens), then the window messages, the
  // lines, the watched handles, the posted work and the due timers.
  bool Turn(std::optional<Clock::duration> timeout) override;

  std::shared_ptr<Mailbox> mail_ = std::make_shared<Mailbox>();
  std::map<WatchId, Watched> watches_;
};

}  // namespace bm::win32
