// The command line's poll loop: timers fire in order and never early, a reply wait ends when
// bytes arrive on an open line and not for anything else, a signal reaches the handler at the
// next turn, children's output comes before their end, and the notifications station relies on
// (a folder that appears level by level, a device entry in /dev where no udev daemon runs).
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/YieldPacer.h"
#include "platform/posix/FolderWatch.h"
#include "platform/posix/PollLoop.h"
#include "platform/posix/PortArrivals.h"
#include "platform/posix/ReceivingLines.h"

namespace bm::posix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Turns the loop until `done` or `within` has passed.
template <class Done>
bool TurnUntil(PollLoop& loop, Done done, Clock::duration within = 3s) {
  const auto end = Clock::now() + within;
  while (!done() && Clock::now() < end) loop.processEvents(10);
  return done();
}

TEST(PollLoop, TimersFireInTheirOrderNeverEarlyAndACancelledOneNever) {
  PollLoop loop;
  std::vector<int> fired;
  const auto start = Clock::now();
  std::vector<Clock::duration> late;
  for (const int ms : {30, 10, 20}) {
    loop.After(std::chrono::milliseconds(ms), [&, ms] {
      fired.push_back(ms);
      late.push_back(Clock::now() - start - std::chrono::milliseconds(ms));
    });
  }
  const auto cancelled = loop.After(15ms, [&] { fired.push_back(-1); });
  loop.Cancel(cancelled);
  loop.After(40ms, [&] { loop.Quit(); });
  loop.Run();
  EXPECT_EQ(fired, (std::vector<int>{10, 20, 30}));
  for (const Clock::duration d : late) EXPECT_GE(d, Clock::duration::zero());
}

TEST(PollLoop, AReplyWaitEndsWhenBytesArriveOnALineAndOnlyThen) {
  int master = -1, slave = -1;
  termios raw{};
  ::cfmakeraw(&raw);  // bytes as they come, as a serial port has them
  ASSERT_EQ(::openpty(&master, &slave, nullptr, &raw, nullptr), 0);
  std::string pulled;
  AddReceivingLine(slave, [&] {
    char bytes[64];
    const ssize_t n = ::read(slave, bytes, sizeof bytes);
    if (n > 0) pulled.append(bytes, static_cast<size_t>(n));
  });
  PollLoop loop;
  bool timerFired = false;
  loop.After(5ms, [&] { timerFired = true; });
  auto t0 = Clock::now();
  loop.processEvents(60);
  EXPECT_TRUE(timerFired);
  EXPECT_GE(Clock::now() - t0, 60ms) << "a timer does not cut a pass short";

  ASSERT_EQ(::write(master, "KW", 2), 2);
  t0 = Clock::now();
  loop.processEvents(5000);
  EXPECT_LT(Clock::now() - t0, 4s) << "bytes on the line end the pass";
  EXPECT_EQ(pulled, "KW") << "the line's own pull took them";
  RemoveReceivingLine(slave);
  ::close(slave);
  ::close(master);
}

TEST(PollLoop, ASignalReachesTheHandlerAtTheNextTurn) {
  InstallInterruptHandlers();
  PollLoop loop;
  int heard = 0;
  loop.OnInterrupt([&] { ++heard; });
  ::raise(SIGINT);  // caught: the test goes on
  ::raise(SIGTERM);
  EXPECT_EQ(heard, 0) << "never from the handler itself";
  EXPECT_TRUE(TurnUntil(loop, [&] { return heard == 2; }));
  EXPECT_TRUE(InterruptReceived());
  loop.OnInterrupt(nullptr);
}

// A child leads a process group of its own (a Ctrl-C at the terminal reaches only its parent);
// all of its output comes before its end.
TEST(PollLoop, AChildRunsInItsOwnGroupAndItsOutputComesBeforeItsEnd) {
  PollLoop loop;
  std::string out, err;
  std::optional<int> status;
  bool ended = false;
  // Its process ID and its process group's (the fifth field of its stat).
  auto child = loop.Start("/bin/sh", {"-c", "echo $$ $(cut -d' ' -f5 /proc/$$/stat); printf e >&2; exit 7"},
                          {[&](std::string_view b) { out += b; }, [&](std::string_view b) { err += b; },
                           [&](std::optional<int> s, const std::string& cannotStart) {
                             EXPECT_EQ(cannotStart, "");
                             EXPECT_FALSE(out.empty()) << "all of its output before its end";
                             status = s;
                             ended = true;
                           }});
  ASSERT_TRUE(TurnUntil(loop, [&] { return ended; }));
  EXPECT_EQ(status, 7);
  EXPECT_EQ(err, "e");
  EXPECT_FALSE(child->Running());
  std::istringstream ids(out);
  long pid = 0, group = 0;
  ids >> pid >> group;
  EXPECT_EQ(pid, group) << out;
  EXPECT_NE(group, static_cast<long>(::getpgrp()));
}

TEST(PollLoop, AProgramThatCannotStartSaysWhy) {
  PollLoop loop;
  std::string why;
  bool ended = false;
  auto child = loop.Start("/nonexistent/program", {},
                          {nullptr, nullptr, [&](std::optional<int> s, const std::string& w) {
                             EXPECT_FALSE(s);
                             why = w;
                             ended = true;
                           }});
  ASSERT_TRUE(TurnUntil(loop, [&] { return ended; }));
  EXPECT_EQ(why, "No such file or directory");
}

// Yields that come slowly (a run at 300 baud yields once per byte, 37 ms apart) turn the loop
// within a few of them; fast ones read the clock only once per batch.
TEST(YieldPacer, ASlowYieldTurnsTheLoopSoonAndFastOnesAreBatched) {
  YieldPacer pacer;
  for (int i = 0; i < 100000; ++i) pacer.Due();  // fast: now batched
  int yields = 0;
  do {
    std::this_thread::sleep_for(4ms);  // never shorter than asked: 3 of them pass the interval
    ++yields;
  } while (!pacer.Due() && yields < 100);
  EXPECT_LE(yields, 4) << "a slow run's Ctrl-C waits for a batch of fast yields";
  pacer.Turned();
  int due = 0;
  const auto start = Clock::now();
  for (int i = 0; i < 1000000; ++i)
    if (pacer.Due()) {
      ++due;
      pacer.Turned();
    }
  const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_LE(due, elapsedMs / 10 + 2) << "turns about every 10 ms";
}

TEST(FolderWatch, AFolderThatDoesNotExistYetIsFollowedLevelByLevel) {
  char dir[] = "/tmp/bm-watch-XXXXXX";
  const fs::path root = ::mkdtemp(dir);
  const fs::path target = root / "serial" / "by-id";
  EXPECT_EQ(NearestExistingFolder(target.string()), root.string());
  std::ofstream(root / "file") << "x";
  EXPECT_EQ(NearestExistingFolder((root / "file").string()), "") << "a file is no folder";
  EXPECT_EQ(NearestExistingFolder((root / "file" / "below").string()), "") << "nor is what is below a file";

  PollLoop loop;
  std::vector<std::string> changed;
  FolderWatch watch(loop, [&](const std::string& path) { changed.push_back(path); });
  ASSERT_TRUE(watch.Add(root.string()));
  fs::create_directories(target);
  ASSERT_TRUE(TurnUntil(loop, [&] { return !changed.empty(); }));
  EXPECT_EQ(changed.front(), root.string());
  EXPECT_EQ(NearestExistingFolder(target.string()), target.string());
  // Removed, the folder is no longer watched, and may be watched again.
  ASSERT_TRUE(watch.Add(target.string()));
  fs::remove(target);
  ASSERT_TRUE(TurnUntil(loop, [&] { return !watch.Watching(target.string()); }));
  fs::remove_all(root);
}

// Where no udev daemon runs (this container, a minimal system), a device entry appearing in /dev
// is what tells of a new port.
TEST(PortArrivals, WithoutUdevADeviceEntryInDevTells) {
  if (UdevDaemonRuns()) GTEST_SKIP() << "a udev daemon runs here: its events are used";
  const fs::path entry = "/dev/bm-arrival-test-" + std::to_string(::getpid());
  if (::access("/dev", W_OK) != 0) GTEST_SKIP() << "/dev is not writable here";
  PollLoop loop;
  int told = 0;
  PortArrivals arrivals(loop, [&] { ++told; });
  EXPECT_STREQ(arrivals.Source(), "/dev");
  std::ofstream(entry) << "";
  EXPECT_TRUE(TurnUntil(loop, [&] { return told > 0; }));
  fs::remove(entry);
}

}  // namespace
}  // namespace bm::posix
