// The runs as the link offers them, without a window: what the observer hears and what the run
// returns.
#include <gtest/gtest.h>

#include "link/Run.h"
#include "link/TargetBench.h"

namespace bm {
namespace {

// Keeps every event as one line of text.
struct RecordingObserver : RunObserver {
  void OnPhase(Phase phase) override {
    events.push_back(phase == Phase::Flash ? "flash" : phase == Phase::Eeprom ? "eeprom" : "erase");
  }
  void OnProgress(int percent, int64_t, int64_t) override { events.push_back(std::to_string(percent) + "%"); }
  void OnFailure(Failure failure, bool mayGoOn) override {
    events.push_back("failure " + std::to_string(Number(failure)) + (mayGoOn ? " goes on" : " ends"));
  }
  std::vector<std::string> events;
};

struct Link {
  explicit Link(sim::SimTargetConfig config = test::TestBoard())
      : target(std::make_shared<sim::SimTarget>(config, loop.Clock())), service(target), port(service) {
    port.Select(0);
    port.SetBaudRate(57600);
    EXPECT_EQ(link.CheckAlive(), Liveness::Alive);
    image.FlashArr.assign(image.FlashArr.size(), 0xFF);
    limits.target = {0x1E950F, config.flashWords, config.pageWords, std::nullopt};
  }
  test::ScriptedEventLoop loop;
  std::shared_ptr<sim::SimTarget> target;
  sim::SimSerialService service;
  ComPort port;
  Bootloader link{port, loop};
  ImageBuffers image;
  RunLimits limits;
  RecordingObserver observer;
};

TEST(Run, DownloadTellsPhasesProgressAndFailuresAndReturnsWhatHappened) {
  struct Case {
    std::vector<sim::Fault> faults;
    std::vector<std::string> events;
    RunEnd end;
    std::vector<Failure> failures;
    const char* why;
  } cases[] = {
      {{}, {"flash", "50%", "100%", "eeprom", "50%", "100%"}, RunEnd::Done, {}, "a clean run"},
      {{{'E', 2, sim::FaultKind::NoReply}},
       {"flash", "failure 4 goes on", "50%", "100%", "eeprom", "50%", "100%"},
       RunEnd::Done,
       {Failure::EraseNotAcknowledged},
       "failure 4 at block 0: the run reaches its end, but not cleanly"},
      {{{'D', 2, sim::FaultKind::WrongReply}},
       {"flash", "50%", "failure 5 ends"},
       RunEnd::Failed,
       {Failure::ChecksumMismatch},
       "failure 5 ends the run before the EEPROM"},
      {{{'D', 2, sim::FaultKind::Vanish}},
       {"flash", "50%", "failure 5 ends"},
       RunEnd::PortLost,
       {Failure::ChecksumMismatch},
       "an adapter unplugged during a page"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    Link l;
    const auto flash = test::Image(256);
    std::copy(flash.begin(), flash.end(), l.image.FlashArr.begin());
    l.image.FBytesRead = 256;
    l.image.EEpromArr[0] = 1;
    l.image.EEpromArr[1] = 2;
    l.image.EBytesRead = 2;
    for (const sim::Fault& fault : c.faults) l.target->AddFault(fault);
    const RunResult result = Download(l.link, l.image, l.limits, l.observer);
    EXPECT_EQ(l.observer.events, c.events);
    EXPECT_EQ(result.end, c.end);
    EXPECT_EQ(result.failures, c.failures);
    EXPECT_EQ(result.Clean(), c.end == RunEnd::Done && c.failures.empty());
  }
}

TEST(Run, APhaseNotWantedIsSkippedWhenItIsReached) {
  Link l;
  l.image.EBytesRead = 1;
  std::vector<Phase> asked;
  l.limits.phaseWanted = [&](Phase phase) {
    asked.push_back(phase);
    return phase == Phase::Eeprom;
  };
  const RunResult result = Download(l.link, l.image, l.limits, l.observer);
  EXPECT_EQ(asked, (std::vector<Phase>{Phase::Flash, Phase::Eeprom}));
  EXPECT_EQ(l.observer.events, (std::vector<std::string>{"eeprom", "100%"}));
  EXPECT_TRUE(result.Clean());
}

}  // namespace
}  // namespace bm
