// The command line's event loop on Windows: one MsgWaitForMultipleObjectsEx over the interrupt
// event, the open serial lines' events (ReceivingLines.h), the handles it watches (file change
// notifications) and the mailbox other threads hand their work to (the pipes of the children),
// with timers kept by the loop and the thread's window messages dispatched (port arrivals).
//
// As posix::PollLoop: a reply-wait pass (processEvents) lasts its full time unless bytes arrive
// on a serial line; a yield turns the loop only when about 10 ms have passed since the last
// turn; a timer is never early. The system's timer runs at 1 ms while the loop exists
// (timeBeginPeriod), so a 1 ms pass is not 15.6 ms.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/CommandLoop.h"
#include "platform/YieldPacer.h"

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

class Win32Loop : public CommandLoop {
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
  struct Watched {
    void* handle;
    std::function<void()> ready;
  };
  struct Timer {
    Clock::time_point due;
    std::function<void()> fire;
  };

  // One wait of at most `timeout` (none: until something happens), then the window messages, the
  // lines, the watched handles, the posted work and the due timers. Returns whether bytes
  // arrived on a serial line.
  bool Turn(std::optional<Clock::duration> timeout);
  void FireDueTimers();

  std::shared_ptr<Mailbox> mail_ = std::make_shared<Mailbox>();
  std::map<WatchId, Watched> watches_;
  std::map<TimerId, Timer> timers_;
  int nextId_ = 1;
  bool quit_ = false;
  std::function<void()> onInterrupt_;
  int interruptsPending_ = 0;
  YieldPacer pacer_;
};

}  // namespace bm::win32
