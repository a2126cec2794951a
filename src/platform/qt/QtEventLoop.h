// The event loop of the Qt programs.
//
// A reply-wait pass (processEvents) runs a nested event loop for its full time, so events are
// handled while it waits and an unrelated event never cuts it short; it ends early only when
// bytes arrive on an open serial line (posix::ReceivingLines(): the pass watches each, pulls what
// arrives into its port) or NotifyBytesArrived is called. A yield is cheap: it handles events
// only when about 10 ms have passed since the last time (YieldPacer.h), so a loop that yields per
// byte costs a few dozen event-loop turns per image, and the window never freezes for longer than
// that, at any rate.
#pragma once

#include "platform/EventLoop.h"
#include "platform/YieldPacer.h"

class QEventLoop;

namespace bm::qt {

class QtEventLoop : public EventLoop {
 public:
  QtEventLoop();

  void processEvents(int maxWaitMs) override;
  void yield() override;

  // Ends the pass that is running now, if any (received bytes are what a pass waits for).
  static void NotifyBytesArrived();

  static constexpr int kYieldIntervalMs = 10;
  static_assert(YieldPacer::kInterval == std::chrono::milliseconds(kYieldIntervalMs));

 private:
  YieldPacer pacer_;
};

}  // namespace bm::qt
