#include "platform/win32/WindowLoop.h"

#include <vector>

#include "platform/win32/ReceivingLines.h"

// After our headers: <windows.h> defines Yield and MessageBox as macros.
// clang-format off
#include <windows.h>
#include <timeapi.h>
#undef Yield  // it would rename Bootloader::Yield wherever a header of ours comes after
// clang-format on

namespace bm::win32 {

WindowLoop::~WindowLoop() { ReleaseFineTimer(); }

void WindowLoop::HoldFineTimer() {
  if (fineTimer_) return;
  fineTimer_ = timeBeginPeriod(1) == TIMERR_NOERROR;
}

void WindowLoop::ReleaseFineTimer() {
  if (!fineTimer_) return;
  timeEndPeriod(1);
  fineTimer_ = false;
}

bool WindowLoop::Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Kept for the message loop: a pass inside a handler must not end the program under it.
      quitTaken_ = true;
      quitCode_ = static_cast<int>(msg.wParam);
      return false;
    }
    if (filter_ && filter_(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return true;
}

void WindowLoop::processEvents(int maxWaitMs) {
  HoldFineTimer();
  using namespace std::chrono;
  const auto start = steady_clock::now();
  const auto end = start + milliseconds(maxWaitMs);
  // The loop runs at least once: on a loaded machine the pass's time may be gone before it
  // starts, and a pass that handled no messages would leave Stop unheard.
  bool first = true;
  for (;;) {
    if (!Pump()) break;
    const auto now = steady_clock::now();
    if (!first && now >= end) break;
    first = false;
    // The lines as they are now: a handler run by the pump may have closed a port.
    const std::vector<ReceivingLine> lines = ReceivingLines();
    std::vector<HANDLE> events;
    for (const ReceivingLine& line : lines)
      if (events.size() < MAXIMUM_WAIT_OBJECTS - 1) events.push_back(static_cast<HANDLE>(line.event));
    const auto left = duration_cast<milliseconds>(end - now).count();
    const DWORD wait = left > 0 ? static_cast<DWORD>(left) : 0;
    const DWORD woke = MsgWaitForMultipleObjectsEx(static_cast<DWORD>(events.size()), events.data(), wait,
                                                   QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke < WAIT_OBJECT_0 + events.size()) {
      const size_t index = woke - WAIT_OBJECT_0;
      // Its pull as it is now (the list is a copy; the pull may close its port).
      for (const ReceivingLine& now : ReceivingLines())
        if (now.event == lines[index].event) {
          now.pull();
          break;
        }
      break;
    }
    if (woke == WAIT_FAILED) Sleep(1);  // a line closed under us: look at the list again
    if (woke == WAIT_TIMEOUT && steady_clock::now() >= end) {
      Pump();
      break;
    }
  }
  if (quitTaken_) PostQuitMessage(quitCode_), quitTaken_ = false;
  pacer_.Turned();
}

void WindowLoop::yield() {
  if (!pacer_.Due()) return;
  Pump();
  if (quitTaken_) PostQuitMessage(quitCode_), quitTaken_ = false;
  pacer_.Turned();
}

int WindowLoop::Run() {
  MSG msg;
  for (;;) {
    // Back in the message loop: no handler runs, so no run goes.
    ReleaseFineTimer();
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got < 0) return 1;
    if (filter_ && filter_(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

}  // namespace bm::win32
