// Failures of the download and erase runs: each numbered failure by a missing and by a wrong
// reply, Stop and quitting in the middle of a run, and a port that vanishes.
#include <gtest/gtest.h>

#include "link/TargetBench.h"
#include "support/Inside.h"

namespace bm {
namespace {

using test::Image;
using test::TargetBench;
using test::TraceOnFailure;

enum class Seq { Download, Erase };

// A 300-byte flash image (three pages with data) and four EEPROM bytes. Whether the run went on
// after its failure shows in the target: the EEPROM written (download) or page 2 erased (erase).
struct Outcome {
  std::vector<std::string> messages;
  bool wentOn;
  std::vector<bool> mayGoOn;  // as a registered observer heard each failure
};

Outcome RunWithFault(TargetBench& b, Seq run, sim::Fault fault) {
  b.Load(Image(300), Image(4, 9));
  EXPECT_TRUE(b.Connect());
  b.target().Flash().assign(b.target().Flash().size(), 0x00);
  b.target().AddFault(fault);
  struct Failures : Engine::Observer {
    void OnFailure(Failure, bool mayGoOn) override { heard.push_back(mayGoOn); }
    std::vector<bool> heard;
  } failures;
  const Engine::Registration listening = b.presenter.engine().Listen(failures);
  if (run == Seq::Download)
    b.presenter.DownLdBtn_Action();
  else
    b.presenter.EraseBtn_Action();
  const auto eeprom = Image(4, 9);
  const bool wentOn = run == Seq::Download
                          ? std::equal(eeprom.begin(), eeprom.end(), b.target().Eeprom().begin())
                          : b.target().Flash()[256] == 0xFF;
  return {b.dialogs.messages, wentOn, failures.heard};
}

TEST(Failures, EachNumberedFailureByMissingAndByWrongReply) {
  using K = sim::FaultKind;
  struct Case {
    Seq run;
    sim::Fault fault;
    int number;
    bool wentOn;
    const char* why;
  } cases[] = {
      {Seq::Download, {'A', 1, K::NoReply}, 1, false, "1: \"A\" of the last page, silent"},
      {Seq::Download, {'A', 1, K::WrongReply}, 1, false, "1: \"A\" of the last page, wrong"},
      {Seq::Download, {'E', 1, K::NoReply}, 2, false, "2: \"E\" of the last page, silent"},
      {Seq::Download, {'E', 1, K::WrongReply}, 2, false, "2: \"E\" of the last page, wrong"},
      {Seq::Download, {'A', 2, K::NoReply}, 3, false, "3: \"A\" of block 0, silent"},
      {Seq::Download, {'A', 3, K::WrongReply}, 3, false, "3: \"A\" of block 1, wrong"},
      {Seq::Download, {'E', 2, K::NoReply}, 4, true, "4 at block 0 goes on with \"D\", silent"},
      {Seq::Download, {'E', 2, K::WrongReply}, 4, true, "4 at block 0 goes on with \"D\", wrong"},
      {Seq::Download, {'E', 3, K::NoReply}, 4, false, "4 at block 1 ends the run, silent"},
      {Seq::Download, {'E', 4, K::WrongReply}, 4, false, "4 at block 2 ends the run, wrong"},
      {Seq::Download, {'D', 1, K::NoReply}, 5, false, "5: no checksum"},
      {Seq::Download, {'D', 2, K::WrongReply}, 5, false, "5: wrong checksum"},
      {Seq::Download, {'P', 1, K::NoReply}, 6, true, "6 at block 0 goes on, silent"},
      {Seq::Download, {'P', 1, K::WrongReply}, 6, true, "6 at block 0 goes on, wrong"},
      {Seq::Download, {'P', 2, K::NoReply}, 6, false, "6 at block 1 ends the run, silent"},
      {Seq::Download, {'P', 3, K::WrongReply}, 6, false, "6 at block 2 ends the run, wrong"},
      {Seq::Download, {'B', 1, K::NoReply}, 7, false, "7: first EEPROM byte, silent"},
      {Seq::Download, {'B', 3, K::WrongReply}, 7, false, "7: third EEPROM byte, wrong"},
      {Seq::Erase, {'A', 1, K::NoReply}, 8, false, "8: \"A\" of page 0, silent"},
      {Seq::Erase, {'A', 2, K::WrongReply}, 8, false, "8: \"A\" of page 1, wrong"},
      {Seq::Erase, {'E', 1, K::NoReply}, 9, true, "9 at page 0 goes on (bounded wait), silent"},
      {Seq::Erase, {'E', 1, K::WrongReply}, 9, true, "9 at page 0 goes on, wrong"},
      {Seq::Erase, {'E', 2, K::NoReply}, 9, false, "9 at page 1 ends the run, silent"},
      {Seq::Erase, {'E', 2, K::WrongReply}, 9, false, "9 at page 1 ends the run, wrong"},
  };
  for (const Case& c : cases) {
    TargetBench b;
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    const Outcome outcome = RunWithFault(b, c.run, c.fault);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{std::to_string(c.number) + " Communication error"});
    EXPECT_EQ(outcome.wentOn, c.wentOn);
    EXPECT_EQ(outcome.mayGoOn, std::vector<bool>{c.wentOn}) << "observers hear mayGoOn as the run told it";
    // The run says what happened: the one failure it met, and whether it still reached its end.
    const RunReport& report = b.presenter.LastRun();
    EXPECT_EQ(report.start, RunStart::Started);
    EXPECT_EQ(report.result.failures, std::vector<Failure>{static_cast<Failure>(c.number)});
    EXPECT_EQ(report.result.end, c.wentOn ? RunEnd::Done : RunEnd::Failed);
    EXPECT_FALSE(report.result.Clean()) << "a run that went on after a failure is not a clean one";
    EXPECT_EQ(b.presenter.ModeNumber(), 2);
    EXPECT_EQ(b.display.Text(Caption::ModeLabel), "Target connected");
    EXPECT_FALSE(b.display.timerOn);
    EXPECT_FALSE(b.presenter.Busy());
    EXPECT_LT(b.loop.now, 10000) << "every wait is bounded";
    EXPECT_EQ(b.target().UndrainedReplyWindows(), 0);
  }
}

TEST(Failures, AFailureInTheFlashPhaseSkipsTheEeprom) {
  TargetBench b;
  const Outcome outcome = RunWithFault(b, Seq::Download, {'A', 2, sim::FaultKind::NoReply});
  EXPECT_FALSE(outcome.wentOn);
  EXPECT_EQ(b.target().Eeprom()[0], 0xFF);
}

TEST(Failures, ClicksDuringARunThatGoesOnAfterFailure4DoNothing) {
  TargetBench b;
  int clicks = 0;
  b.dialogs.onMessage = [&](const std::string&) {
    // The window shows mode 2 here, with Download and Erase enabled: the guard must hold.
    ++clicks;
    b.Mark();
    b.presenter.DownLdBtn_Action();
    b.presenter.EraseBtn_Action();
    b.presenter.ComportBtn_Action();
    EXPECT_EQ(b.Sent(), "");
  };
  const Outcome outcome = RunWithFault(b, Seq::Download, {'E', 2, sim::FaultKind::NoReply});
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(outcome.wentOn);
}

// Stop, quit and an unplugged adapter in the middle of a run: the run ends at its next wait, the
// window ends in mode 1 (the port is closed), and only an unplugged adapter gets a box.
TEST(Interrupted, StopQuitAndVanishEndTheRunAtItsNextWait) {
  struct Case {
    Seq run;
    const char* action;  // "stop", "quit" or "vanish"
    sim::Fault fault;    // makes the run wait where the action strikes
    std::vector<std::string> messages;
    bool xSent;
    const char* why;
  } cases[] = {
      {Seq::Download,
       "stop",
       {'D', 1, sim::FaultKind::LateReply, 30},
       {},
       true,
       "Stop while the checksum is awaited"},
      {Seq::Download,
       "stop",
       {'E', 2, sim::FaultKind::LateReply, 30},
       {},
       true,
       "Stop while the erase of block 0 is awaited: no box, the run does not go on"},
      {Seq::Erase,
       "stop",
       {'E', 1, sim::FaultKind::LateReply, 3000},
       {},
       true,
       "Stop during the erase wait of page 0 ends the wait and the run"},
      {Seq::Download,
       "quit",
       {'D', 1, sim::FaultKind::LateReply, 30},
       {},
       false,
       "quitting: no box, and never an \"X\""},
      {Seq::Erase, "quit", {'E', 1, sim::FaultKind::LateReply, 3000}, {}, false, "quitting during an erase"},
      {Seq::Download,
       "vanish",
       {'D', 1, sim::FaultKind::Vanish},
       {"5 Communication error"},
       false,
       "the adapter is unplugged during a page"},
      {Seq::Download,
       "vanish",
       {'E', 2, sim::FaultKind::Vanish},
       {"4 Communication error"},
       false,
       "unplugged at block 0: no storm of messages"},
      {Seq::Erase,
       "vanish",
       {'E', 1, sim::FaultKind::Vanish},
       {"9 Communication error"},
       false,
       "unplugged during an erase"},
  };
  for (const Case& c : cases) {
    TargetBench b;
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    const std::string action = c.action;
    const char letter = c.fault.command;
    int armedAt = -1;  // the wait pass at which the faulty command had gone out
    if (action != "vanish") {
      // Strike on the tenth wait pass after the faulty command went out.
      b.loop.When(
          [&] {
            const std::string sent = b.target().SentBytes();
            if (armedAt < 0 && b.presenter.ModeNumber() == 3 &&
                sent.find(letter, sent.rfind('?')) != std::string::npos)
              armedAt = b.loop.passes;
            return armedAt >= 0 && b.loop.passes >= armedAt + 10;
          },
          [&] {
            if (action == "stop")
              b.presenter.StopBtn_Action();
            else
              b.presenter.RequestQuit();
          });
    }
    // The box of an unplugged adapter comes after the window stopped saying "Target connected".
    std::vector<int> modesAtBox;
    b.dialogs.onMessage = [&](const std::string&) { modesAtBox.push_back(b.presenter.ModeNumber()); };
    const Outcome outcome = RunWithFault(b, c.run, c.fault);
    EXPECT_EQ(outcome.messages, c.messages);
    EXPECT_EQ(modesAtBox, std::vector<int>(c.messages.size(), 1));
    EXPECT_FALSE(outcome.wentOn);
    EXPECT_EQ(b.target().Started(), c.xSent);
    const RunEnd expectedEnd = action == "stop"   ? RunEnd::Stopped
                               : action == "quit" ? RunEnd::Quit
                                                  : RunEnd::PortLost;
    EXPECT_EQ(b.presenter.LastRun().result.end, expectedEnd);
    EXPECT_EQ(b.presenter.LastRun().result.failures.size(), c.messages.size())
        << "Stop and quit are no failures";
    EXPECT_FALSE(test::Inside(b.presenter).ComPort.IsOpen());
    EXPECT_FALSE(test::Inside(b.presenter).g.COMok);
    EXPECT_EQ(b.presenter.ModeNumber(), 1) << "the port is closed: never \"Target connected\"";
    EXPECT_EQ(b.display.Text(Caption::ModeLabel), "file loaded");
    EXPECT_FALSE(b.presenter.Busy());
    EXPECT_LT(b.loop.now, 2000) << "the run ended at its next wait";
  }
}

// Stop pressed while a page's data goes out: the rest of the page goes first, then "X" without
// "P", so the loader reads the farewell as a command and leaves.
TEST(Interrupted, StopDuringAPagesDataSendsTheRestOfThePageThenTheFarewell) {
  TargetBench b;
  TraceOnFailure trace(b, "Stop in the middle of block 1's data");
  const auto image = Image(300);
  b.Load(image);
  ASSERT_TRUE(b.Connect());
  // "?I", the last page's "A" "E", block 0 (A E D+128 P), block 1's "A" "E": its "D" stands at 144.
  constexpr size_t d = 144;
  b.Mark();
  const size_t before = b.AllSent().size();
  // Strike after 61 data bytes of block 1 have gone out.
  b.loop.When([&] { return b.AllSent().size() - before == d + 1 + 61; },
              [&] { b.presenter.StopBtn_Action(); });
  b.presenter.DownLdBtn_Action();
  const std::string sent = b.Sent();
  ASSERT_GT(sent.size(), d);
  EXPECT_EQ(test::Hex(sent.substr(d)),
            test::Hex("D" + std::string(image.begin() + 128, image.begin() + 256) + "X"))
      << "the whole page, no \"P\", then \"X\"";
  EXPECT_TRUE(b.target().Started()) << "the loader read \"X\" as a command";
  EXPECT_EQ(b.target().Flash()[128], 0xFF) << "the page was not programmed";
  EXPECT_EQ(b.presenter.LastRun().result.end, RunEnd::Stopped);
  EXPECT_TRUE(b.dialogs.messages.empty());
  EXPECT_EQ(b.presenter.ModeNumber(), 1);
  EXPECT_FALSE(test::Inside(b.presenter).ComPort.IsOpen());
}

// The runs that go on after failure 4, 6 (download) or 9 (erase) at address 0 send the rest of
// block 0's commands and then the next block's.
TEST(Failures, GoingOnAtAddressZeroSendsTheRestOfTheBlock) {
  using test::Bytes;
  const auto image = Image(300);
  const std::string block0 = "D" + std::string(image.begin(), image.begin() + 128) + "P";
  struct Case {
    Seq run;
    sim::Fault fault;
    size_t failedAt;    // where the failed command stands in what the run sent after "?I"
    std::string after;  // what follows it: the rest of block 0, then block 1 begins
    const char* why;
  } cases[] = {
      // "A C0 3F" "E" (the last page), "A 00 00" "E" (block 0)
      {Seq::Download,
       {'E', 2, sim::FaultKind::WrongReply},
       9,
       block0 + Bytes({'A', 64, 0}),
       "4: \"D\" and \"P\" of block 0"},
      {Seq::Download,
       {'P', 1, sim::FaultKind::WrongReply},
       9 + block0.size(),
       Bytes({'A', 64, 0, 'E', 'D'}),
       "6: block 1 follows"},
      {Seq::Erase, {'E', 1, sim::FaultKind::WrongReply}, 5, Bytes({'A', 64, 0, 'E'}), "9: page 1 follows"},
  };
  for (const Case& c : cases) {
    TargetBench b;
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    b.Load(image, Image(4, 9));
    ASSERT_TRUE(b.Connect());
    b.target().AddFault(c.fault);
    b.Mark();
    if (c.run == Seq::Download)
      b.presenter.DownLdBtn_Action();
    else
      b.presenter.EraseBtn_Action();
    const std::string sent = b.Sent();
    ASSERT_GT(sent.size(), c.failedAt);
    EXPECT_EQ(sent[c.failedAt], c.fault.command);
    const size_t at = c.failedAt;
    EXPECT_EQ(test::Hex(sent.substr(at + 1, c.after.size())), test::Hex(c.after));
  }
}

}  // namespace
}  // namespace bm
