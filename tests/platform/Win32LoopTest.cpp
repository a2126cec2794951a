// The command line's loop on Windows: timers fire in order and never early, a reply wait ends
// when a line's event is set and not for anything else, a console control event reaches the
// handler at the next turn, children's output comes before their end, arguments arrive as given,
// a stop request ends a child as quitting does (and a Ctrl-C at the console does not: that is
// its parent's), children end with their parent, and the notifications station relies on (a
// file's change, a port list's rescan). The children are win32_test_child.exe.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/CommandLoop.h"
#include "platform/win32/FolderWatch.h"
#include "platform/win32/Interrupts.h"
#include "platform/win32/PortArrivals.h"
#include "platform/win32/ReceivingLines.h"
#include "platform/win32/Text.h"
#include "platform/win32/Win32Loop.h"

namespace bm::win32 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Turns the loop until `done` or `within` has passed.
template <class Done>
bool TurnUntil(Win32Loop& loop, Done done, Clock::duration within = 10s) {
  const auto end = Clock::now() + within;
  while (!done() && Clock::now() < end) loop.processEvents(10);
  return done();
}

std::string ChildProgram() {
  return Utf8((fs::path(Wide(ThisProgramPath())).parent_path() / L"win32_test_child.exe").wstring());
}

// One run of the test child to its end.
struct ChildRun {
  std::string out, err, why;
  std::optional<int> status;
  bool ended = false;
  bool outputBeforeEnd = true;
};

std::unique_ptr<ChildProcess> Start(Win32Loop& loop, const std::vector<std::string>& args, ChildRun& run) {
  return loop.Start(ChildProgram(), args,
                    {[&run](std::string_view b) {
                       run.outputBeforeEnd &= !run.ended;
                       run.out += b;
                     },
                     [&run](std::string_view b) {
                       run.outputBeforeEnd &= !run.ended;
                       run.err += b;
                     },
                     [&run](std::optional<int> s, const std::string& why) {
                       run.status = s;
                       run.why = why;
                       run.ended = true;
                     }});
}

// A process by its ID, to see it end.
bool EndsWithin(unsigned long pid, DWORD ms) {
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return true;  // gone already
  const bool ended = ::WaitForSingleObject(process, ms) == WAIT_OBJECT_0;
  ::CloseHandle(process);
  return ended;
}

TEST(Win32Loop, TimersFireInTheirOrderNeverEarlyAndACancelledOneNever) {
  Win32Loop loop;
  std::vector<int> fired;
  const auto start = Clock::now();
  std::vector<Clock::duration> late;
  for (const int ms : {30, 10, 20, 1}) {
    loop.After(std::chrono::milliseconds(ms), [&, ms] {
      fired.push_back(ms);
      late.push_back(Clock::now() - start - std::chrono::milliseconds(ms));
    });
  }
  const auto cancelled = loop.After(15ms, [&] { fired.push_back(-1); });
  loop.Cancel(cancelled);
  loop.After(40ms, [&] { loop.Quit(); });
  loop.Run();
  EXPECT_EQ(fired, (std::vector<int>{1, 10, 20, 30}));
  for (const Clock::duration d : late) EXPECT_GE(d, Clock::duration::zero());
}

TEST(Win32Loop, AReplyWaitEndsWhenALineHasBytesAndOnlyThen) {
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  int pulls = 0;
  AddReceivingLine(event, [&] {
    ++pulls;
    ::ResetEvent(event);  // as a port's pull does once it took the bytes
  });
  Win32Loop loop;
  bool timerFired = false;
  loop.After(5ms, [&] { timerFired = true; });
  auto t0 = Clock::now();
  loop.processEvents(60);
  EXPECT_TRUE(timerFired);
  EXPECT_GE(Clock::now() - t0, 60ms) << "a timer does not cut a pass short";
  EXPECT_EQ(pulls, 0);

  std::thread bytes([event] {
    std::this_thread::sleep_for(20ms);
    ::SetEvent(event);  // the port's reader thread, as bytes come
  });
  t0 = Clock::now();
  loop.processEvents(5000);
  EXPECT_LT(Clock::now() - t0, 4s) << "bytes on the line end the pass";
  EXPECT_EQ(pulls, 1) << "the line's own pull took them";
  bytes.join();
  RemoveReceivingLine(event);
  ::CloseHandle(event);
}

TEST(Win32Loop, AConsoleControlEventReachesTheHandlerAtTheNextTurn) {
  InstallInterruptHandlers();
  Win32Loop loop;
  int heard = 0;
  loop.OnInterrupt([&] { ++heard; });
  // As the system calls the handler, on a thread of its own.
  std::thread console([] {
    EXPECT_TRUE(NoteConsoleControl(CTRL_C_EVENT));
    EXPECT_TRUE(NoteConsoleControl(CTRL_BREAK_EVENT));
  });
  console.join();
  EXPECT_EQ(heard, 0) << "never from the handler itself";
  EXPECT_TRUE(TurnUntil(loop, [&] { return heard == 2; }));
  EXPECT_TRUE(InterruptReceived());
  EXPECT_FALSE(NoteConsoleControl(0xFFFF)) << "an event it does not know is left to the next handler";
  loop.OnInterrupt(nullptr);
}

TEST(Win32Child, ItsOutputComesBeforeItsEndWithItsExitStatus) {
  Win32Loop loop;
  ChildRun run;
  auto child = Start(loop, {"exit", "7"}, run);
  ASSERT_TRUE(TurnUntil(loop, [&] { return run.ended; }));
  EXPECT_EQ(run.status, 7);
  EXPECT_EQ(run.out, "out");
  EXPECT_EQ(run.err, "err");
  EXPECT_TRUE(run.outputBeforeEnd);
  EXPECT_EQ(run.why, "");
  EXPECT_FALSE(child->Running());
}

TEST(Win32Child, AProgramThatCannotStartSaysWhy) {
  Win32Loop loop;
  ChildRun run;
  auto child = loop.Start("C:\\nonexistent\\program.exe", {},
                          {nullptr, nullptr, [&](std::optional<int> s, const std::string& why) {
                             run.status = s;
                             run.why = why;
                             run.ended = true;
                           }});
  EXPECT_FALSE(run.ended) << "told at the next turn, not from Start";
  ASSERT_TRUE(TurnUntil(loop, [&] { return run.ended; }));
  EXPECT_FALSE(run.status);
  EXPECT_NE(run.why, "");
}

// Windows hands a child one command line, which the child splits again: each argument must come
// back as it was given.
TEST(Win32Child, ArgumentsArriveAsGiven) {
  const std::vector<std::string> args{"plain",
                                      "two words",
                                      "",
                                      "a \"quoted\" word",
                                      "ends in a backslash\\",
                                      "C:\\folder with spaces\\",
                                      "backslashes\\\\\"before a quote",
                                      "tab\there",
                                      "J\xC3\xBCrgen's board.ppro",
                                      "\\\\.\\COM10"};
  Win32Loop loop;
  ChildRun run;
  std::vector<std::string> all{"args"};
  all.insert(all.end(), args.begin(), args.end());
  auto child = Start(loop, all, run);
  ASSERT_TRUE(TurnUntil(loop, [&] { return run.ended; }));
  std::string expected;
  for (const std::string& a : args) expected += "[" + a + "]\n";
  std::string got = run.out;
  got.erase(std::remove(got.begin(), got.end(), '\r'), got.end());  // the C runtime's text mode
  EXPECT_EQ(got, expected);
}

// Terminate is the child's stop request (a named event it watches): it ends its run as quitting
// does. A Ctrl-C at the console is its parent's to act on, not the child's. Kill ends it at
// once, and with no exit status.
TEST(Win32Child, TerminateEndsItAsQuittingAndKillWithoutAStatus) {
  Win32Loop loop;
  ChildRun stopped;
  auto child = Start(loop, {"wait-for-stop"}, stopped);
  ASSERT_TRUE(
      TurnUntil(loop, [&] { return stopped.out.find("ready") != std::string::npos || stopped.ended; }));
  EXPECT_EQ(stopped.out.substr(0, 7), "ignored") << stopped.out;
  child->Terminate();
  ASSERT_TRUE(TurnUntil(loop, [&] { return stopped.ended; }));
  EXPECT_EQ(stopped.status, 130);

  ChildRun killed;
  auto sleeper = Start(loop, {"sleep"}, killed);
  ASSERT_TRUE(TurnUntil(loop, [&] { return !killed.out.empty(); }));
  sleeper->Kill();
  ASSERT_TRUE(TurnUntil(loop, [&] { return killed.ended; }));
  EXPECT_FALSE(killed.status) << "killed: no status of its own";
}

// A child must not outlive what made it: the child object's end kills it, and so does its
// parent's end, however the parent ends (the job object).
TEST(Win32Child, AChildEndsWithItsObjectAndWithItsParent) {
  Win32Loop loop;
  ChildRun run;
  auto sleeper = Start(loop, {"sleep"}, run);
  ASSERT_TRUE(TurnUntil(loop, [&] { return run.out.find('\n') != std::string::npos; }));
  const unsigned long sleeperId = std::stoul(run.out);
  sleeper.reset();
  EXPECT_TRUE(EndsWithin(sleeperId, 10000)) << "the object's end kills a running child";

  ChildRun middle;
  auto parent = Start(loop, {"grandchild"}, middle);
  ASSERT_TRUE(TurnUntil(loop, [&] { return middle.out.find('\n') != std::string::npos; }));
  const unsigned long grandchildId = std::stoul(middle.out);
  EXPECT_FALSE(EndsWithin(grandchildId, 0));
  parent->Kill();  // no chance to end its own child: the job does
  ASSERT_TRUE(TurnUntil(loop, [&] { return middle.ended; }));
  EXPECT_TRUE(EndsWithin(grandchildId, 10000)) << "a child ends with its parent";
}

TEST(FolderWatch, AFileIsToldWhenItChangesAndAFolderWhenAnEntryComes) {
  const fs::path root = fs::temp_directory_path() / ("bm-watch-" + std::to_string(::GetCurrentProcessId()));
  fs::remove_all(root);
  fs::create_directories(root / "files");
  fs::create_directories(root / "ports");
  const fs::path file = root / "files" / "board.hex", other = root / "files" / "other.hex";
  std::ofstream(file) << "1";
  std::ofstream(other) << "1";
  EXPECT_EQ(NearestExistingFolder(Utf8((root / "serial" / "by-id").wstring())), Utf8(root.wstring()));
  EXPECT_EQ(NearestExistingFolder(Utf8((file / "below").wstring())), "")
      << "what is below a file is no folder";

  {
    Win32Loop loop;
    std::vector<std::string> changed;
    FolderWatch watch(loop, [&](const std::string& path) { changed.push_back(path); });
    const std::string fileName = Utf8(file.wstring()), folderName = Utf8((root / "ports").wstring());
    ASSERT_TRUE(watch.Add(fileName));
    ASSERT_TRUE(watch.Add(folderName));
    EXPECT_FALSE(watch.Add(Utf8((root / "missing").wstring())));

    std::ofstream(other) << "22";  // a neighbour: its folder changes, the file does not
    std::ofstream(file) << "333";
    ASSERT_TRUE(TurnUntil(loop, [&] { return !changed.empty(); }));
    loop.processEvents(100);
    EXPECT_EQ(changed, std::vector<std::string>{fileName}) << "once, and for the watched file only";

    changed.clear();
    fs::create_directories(root / "ports" / "serial");
    ASSERT_TRUE(TurnUntil(loop, [&] { return !changed.empty(); }));
    EXPECT_EQ(changed.front(), folderName);

    fs::remove(file);
    ASSERT_TRUE(TurnUntil(loop, [&] { return !watch.Watching(fileName); })) << "removed: no longer watched";
    EXPECT_TRUE(watch.Watching(folderName));
  }
  fs::remove_all(root);  // its folders, no longer watched
}

// Wine tells of no port that comes or goes (its ports are Unix devices mapped by name), nor do
// some virtual port drivers: the rescan of the list does, once per change.
TEST(PortArrivals, ARescanTellsOfAChangedListOnce) {
  Win32Loop loop;
  std::vector<std::string> ports{"COM1"};
  int told = 0;
  PortArrivals arrivals(
      loop, [&] { ++told; }, [&] { return ports; }, 10ms);
  EXPECT_NE(std::string(arrivals.Source()), "");
  loop.processEvents(60);
  EXPECT_EQ(told, 0) << "an unchanged list tells nothing";
  ports.push_back("COM5");
  ASSERT_TRUE(TurnUntil(loop, [&] { return told > 0; }));
  loop.processEvents(60);
  EXPECT_EQ(told, 1) << "one change, told once";
  ports.erase(ports.begin());
  ASSERT_TRUE(TurnUntil(loop, [&] { return told > 1; }));
  EXPECT_EQ(told, 2);
}

}  // namespace
}  // namespace bm::win32
