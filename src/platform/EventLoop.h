// The event loop as long-running operations see it.
//
// Everything runs on one thread. Long loops call yield() at their documented yield points, and
// every wait for a serial reply is made of passes of processEvents(). Button clicks, menu commands
// and the lamp timer run inside those calls: that is how Stop reaches a running download.
//
// What callers rely on:
//  - processEvents(ms) is one pass of a reply wait: it handles pending events and lasts at least
//    `ms` of (possibly injected) time; an unrelated event does not cut it short. It may end
//    early only when received bytes arrived on the serial port.
//  - yield() is cheap enough to be called once per byte; implementations coalesce the real
//    event processing (a few dozen turns for a 256 KiB image, never a freeze).
#pragma once

namespace bm {

class EventLoop {
 public:
  virtual ~EventLoop() = default;

  virtual void processEvents(int maxWaitMs) = 0;
  virtual void yield() = 0;
};

}  // namespace bm
