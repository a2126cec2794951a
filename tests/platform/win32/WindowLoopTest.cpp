// The window's event loop without a window: thread messages stand in for the window's, events
// for the serial lines (ReceivingLines). A reply-wait pass lasts its full time whatever messages
// come, and ends early only when a line's event is signalled, after that line's pull; a yield
// handles the messages once about 10 ms have passed; the 1 ms timer period is held from a pass
// until the message loop is back.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "platform/win32/ReceivingLines.h"
#include "platform/win32/WindowLoop.h"

// clang-format off
#include <windows.h>
#undef Yield
// clang-format on

namespace bm::win32 {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

constexpr UINT kPing = WM_APP + 7;

// Counts the pings the loop handled (a thread message reaches the filter, not a window).
struct Pings {
  explicit Pings(WindowLoop& loop) {
    loop.SetMessageFilter([this](void* m) {
      if (static_cast<MSG*>(m)->message != kPing) return false;
      ++count;
      return true;
    });
  }
  int count = 0;
};

void Ping() { PostThreadMessageW(GetCurrentThreadId(), kPing, 0, 0); }

// An event registered as an open line, removed when the test ends.
struct Line {
  Line() : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    AddReceivingLine(event, [this] {
      ++pulls;
      ResetEvent(event);
    });
  }
  ~Line() {
    RemoveReceivingLine(event);
    CloseHandle(event);
  }
  HANDLE event;
  int pulls = 0;
};

TEST(WindowLoop, APassLastsItsTimeWhateverMessagesComeAndHandlesThem) {
  WindowLoop loop;
  Pings pings(loop);
  Line quiet;
  Ping();
  Ping();
  const auto start = Clock::now();
  loop.processEvents(60);
  EXPECT_GE(MsSince(start), 59) << "a message does not cut a pass short";
  EXPECT_EQ(pings.count, 2);
  EXPECT_EQ(quiet.pulls, 0);
}

TEST(WindowLoop, ASignalledLineIsPulledAndEndsThePass) {
  WindowLoop loop;
  Line silent, talking;
  SetEvent(talking.event);
  const auto start = Clock::now();
  loop.processEvents(20000);
  EXPECT_LT(MsSince(start), 10000) << "ended by the line, not by its time";
  EXPECT_EQ(talking.pulls, 1);
  EXPECT_EQ(silent.pulls, 0);

  // Bytes arriving while the pass waits (another thread stands in for the driver).
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    SetEvent(silent.event);
  });
  loop.processEvents(20000);
  later.join();
  EXPECT_EQ(silent.pulls, 1);
}

TEST(WindowLoop, ALineClosedByAPullOrAHandlerIsNoLongerWatched) {
  WindowLoop loop;
  auto line = std::make_unique<Line>();
  // A handler run by the pass closes the port: its event goes, signalled or not.
  loop.SetMessageFilter([&](void*) {
    line.reset();
    return true;
  });
  SetEvent(line->event);
  Ping();
  const auto start = Clock::now();
  loop.processEvents(40);
  EXPECT_EQ(line, nullptr);
  EXPECT_GE(MsSince(start), 39) << "nothing left to end the pass";
}

TEST(WindowLoop, AYieldHandlesMessagesOnceAbout10msHavePassed) {
  WindowLoop loop;
  Pings pings(loop);
  loop.processEvents(0);
  Ping();
  std::this_thread::sleep_for(std::chrono::milliseconds(WindowLoop::kYieldIntervalMs + 5));
  // After a turn the clock is read at every yield until yields prove fast (YieldPacer.h): the
  // first yield 15 ms later handles the message.
  loop.yield();
  EXPECT_EQ(pings.count, 1);
}

TEST(WindowLoop, TheFineTimerIsHeldFromAPassUntilTheMessageLoopIsBack) {
  WindowLoop loop;
  EXPECT_FALSE(loop.FineTimer());
  loop.processEvents(0);
  EXPECT_TRUE(loop.FineTimer());
  // A quit posted inside a pass is kept for the message loop, which ends on it.
  PostQuitMessage(7);
  loop.processEvents(0);
  EXPECT_TRUE(loop.FineTimer());
  EXPECT_EQ(loop.Run(), 7);
  EXPECT_FALSE(loop.FineTimer());
}

}  // namespace
}  // namespace bm::win32
