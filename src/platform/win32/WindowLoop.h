// The event loop of the Win32 window: the program's message loop and the reply-wait passes a
// run makes inside it.
//
// A reply-wait pass (processEvents) pumps the thread's messages for its full time, waiting in
// MsgWaitForMultipleObjectsEx on the events of the open serial lines (ReceivingLines()); when
// one is signalled, its pull moves the bytes into its port and the pass ends. Nothing else cuts
// a pass short. A yield is cheap: it pumps only when about 10 ms have passed since the last
// time, so a loop that yields per byte costs a few dozen turns per image and the window never
// freezes for longer.
//
// From the first pass of a handler until the message loop (Run) is back, the system timer runs
// at 1 ms (timeBeginPeriod), so a 1 ms pass lasts about 1 ms and not a 15.6 ms tick; the period
// is given back once nothing runs.
//
// Every message the loop takes, in Run or in a pass, goes through the filter first (the window's
// accelerators, the keyboard of its dialogs); the filter takes a MSG* and returns true when it
// handled the message. Everything runs on one thread; no header of ours includes <windows.h>.
#pragma once

#include <chrono>
#include <functional>

#include "platform/EventLoop.h"
#include "platform/YieldPacer.h"

namespace bm::win32 {

class WindowLoop : public EventLoop {
 public:
  WindowLoop() = default;
  ~WindowLoop() override;
  WindowLoop(const WindowLoop&) = delete;
  WindowLoop& operator=(const WindowLoop&) = delete;

  void processEvents(int maxWaitMs) override;
  void yield() override;

  // The message loop, until WM_QUIT; returns its exit code.
  int Run();
  // The filter every message passes first (a MSG*); true: handled, not dispatched.
  void SetMessageFilter(std::function<bool(void* msg)> filter) { filter_ = std::move(filter); }

  // Whether the 1 ms timer period is held now (a run is going).
  bool FineTimer() const { return fineTimer_; }

  static constexpr int kYieldIntervalMs = 10;
  static_assert(YieldPacer::kInterval == std::chrono::milliseconds(kYieldIntervalMs));

 private:
  // Handles every message waiting now; false once WM_QUIT was taken (it is posted again when
  // the outermost loop can end on it).
  bool Pump();
  void HoldFineTimer();
  void ReleaseFineTimer();

  std::function<bool(void*)> filter_;
  YieldPacer pacer_;
  bool fineTimer_ = false;
  bool quitTaken_ = false;
  int quitCode_ = 0;
};

}  // namespace bm::win32
