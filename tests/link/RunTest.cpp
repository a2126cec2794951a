// The runs as the link offers them, without a window: what the observer hears and what the run
// returns.
#include <gtest/gtest.h>

#include "link/Run.h"
#include "link/TargetBench.h"
#include "link/Verify.h"
#include "protocol/crc.h"

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
    limits.target.LoaderIds = std::array<uint32_t, 4>{};
    std::copy(config.loaderIds.begin(), config.loaderIds.end(), limits.target.LoaderIds->begin());
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
    // The flash check is asked for: it runs after a clean run only ("verified" never follows a
    // failure, not even one the run went on after).
    l.limits.verify = true;
    const RunResult result = Download(l.link, l.image, l.limits, l.observer);
    EXPECT_EQ(l.observer.events, c.events);
    EXPECT_EQ(result.end, c.end);
    EXPECT_EQ(result.failures, c.failures);
    const bool clean = c.end == RunEnd::Done && c.failures.empty();
    EXPECT_EQ(result.Clean(), clean);
    EXPECT_EQ(result.verification.has_value(), clean);
  }
}

TEST(Run, APhaseNotWantedIsSkippedWhenItIsReached) {
  Link l;
  l.image.FBytesRead = 128;
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

// Called alone, without the window's check boxes in front of them, the runs touch nothing they
// have nothing for: no flash command without a flash image (page 0 holds the vector table), no
// EEPROM byte without an EEPROM image, nothing at all without a page geometry.
TEST(Run, NothingToWriteTouchesNothing) {
  struct Case {
    int32_t flashBytes, eepromBytes, flashWords, pageWords;
    std::string download, erase;  // the commands each run sends
    const char* why;
  } cases[] = {
      {0, 0, 0x4000, 64, "", "", "no image at all"},
      {0, 2, 0x4000, 64, "BB", "", "only an EEPROM image: the flash is left alone"},
      {256, 0, 0x4000, 64, "AEAEDPAEDP", "AEAE", "only a flash image: no EEPROM byte 0"},
      {256, 2, 0, 64, "BB", "", "a flash size of 0"},
      {256, 2, 0x4000, 0, "BB", "", "a page size of 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    for (const bool erase : {false, true}) {
      Link l;
      const auto flash = test::Image(256);
      std::copy(flash.begin(), flash.end(), l.image.FlashArr.begin());
      l.image.FBytesRead = c.flashBytes;
      l.image.EBytesRead = c.eepromBytes;
      l.limits.target.FlashEnd = c.flashWords;
      l.limits.target.BlockSize = c.pageWords;
      const std::vector<uint8_t> before = l.target->Flash();
      const size_t sentBefore = l.target->SentBytes().size();
      const RunResult result = erase ? Erase(l.link, l.image, l.limits, l.observer)
                                     : Download(l.link, l.image, l.limits, l.observer);
      std::string commands;  // the command letters among the bytes sent
      const std::string sent = l.target->SentBytes().substr(sentBefore);
      for (size_t i = 0; i < sent.size(); ++i) {
        const char letter = sent[i];
        if (letter == 'A' || letter == 'B') i += 2;  // the address word
        if (letter == 'B') ++i;                      // the EEPROM byte
        if (letter == 'D') i += 128;                 // the page's data
        commands += letter;
      }
      EXPECT_EQ(commands, erase ? c.erase : c.download) << (erase ? "erase" : "download");
      EXPECT_TRUE(result.Clean());
      if (c.flashBytes == 0 || c.flashWords == 0 || c.pageWords == 0) {
        EXPECT_EQ(l.target->Flash(), before) << "the flash is unchanged";
      }
    }
  }
}

// The checks' CRCs against their catalogue values, so host and loader cannot drift apart together:
// the first version's CRC-16 (avr-libc's _crc_ccitt_update, CRC-16/MCRF4XX), the second's CRC-32.
TEST(FlashCheck, TheCrcsAreTheCatalogues) {
  const std::string check = "123456789";
  const auto* bytes = reinterpret_cast<const uint8_t*>(check.data());
  EXPECT_EQ(wire_crc(bytes, check.size()), 0x6F91);
  EXPECT_EQ(wire_crc32(bytes, check.size()), 0xCBF43926u);
}

// After a download: the second version checks flash and EEPROM block by block and names the first
// page or byte that differs; the first checks the flash only, with one CRC-16, and says so.
TEST(FlashCheck, WhatEachVersionChecksAndWhereItFindsADifference) {
  const std::array<uint16_t, 4> first{0x0101, WIRE_FAMILY_ID, 0x0100, WIRE_CAPABILITY_FLASH_CRC};
  const struct {
    bool firstVersion;
    std::optional<sim::Fault> fault;
    Verification::Outcome outcome;
    int32_t page, eepromByte;  // where it differs (-1: nowhere)
    std::string what;
    int bits;
  } cases[] = {
      {false, std::nullopt, Verification::Outcome::Verified, -1, -1, "flash and EEPROM", 32},
      {false, sim::Fault{'P', 2, sim::FaultKind::CorruptWrite}, Verification::Outcome::Differs, 128, -1, "",
       32},
      {true, std::nullopt, Verification::Outcome::Verified, -1, -1, "flash", 16},
      {true, sim::Fault{'P', 3, sim::FaultKind::CorruptWrite}, Verification::Outcome::Differs, 256, -1, "",
       16},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.firstVersion ? "first version" : "second version") +
                 (c.fault ? ", corrupt" : ""));
    sim::SimTargetConfig config = test::TestBoard();
    if (c.firstVersion) config.loaderIds = first;
    Link l(config);
    if (c.fault) l.target->AddFault(*c.fault);
    const auto flash = test::Image(600);
    std::copy(flash.begin(), flash.end(), l.image.FlashArr.begin());
    l.image.FBytesRead = 600;
    l.image.EEpromArr[0] = 1;
    l.image.EBytesRead = 1;
    l.limits.verify = true;
    const RunResult result = Download(l.link, l.image, l.limits, l.observer);
    ASSERT_TRUE(result.verification);
    const Verification& v = *result.verification;
    EXPECT_EQ(v.outcome, c.outcome);
    EXPECT_EQ(v.firstDifferingPage, c.page);
    EXPECT_EQ(v.firstDifferingEepromByte, c.eepromByte);
    EXPECT_EQ(v.checkBits, c.bits);
    if (c.outcome == Verification::Outcome::Verified) {
      EXPECT_EQ(v.What(), c.what);
    }
  }
}

// A download that skips what the chip holds leaves the memory a full download leaves: the image
// again writes nothing (not even the EEPROM), one changed page rewrites that page only, and a
// last flash page holding data beyond the image is still erased.
TEST(Run, ASkippingDownloadWritesOnlyWhatTheChipLacks) {
  const struct {
    int changedPage;  // -1: the same image again
    int written;
    const char* why;
  } cases[] = {
      {-1, 0, "the same image"}, {2, 1, "one page changed"}, {-2, 0, "an image up to the last page"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Link skipping, full;
    // The last case's image reaches the flash's last page, which a full download erases first.
    const size_t size = c.changedPage == -2 ? 2 * 0x4000 : 600;
    const auto flash = test::Image(size);
    for (Link* l : {&skipping, &full}) {
      std::copy(flash.begin(), flash.end(), l->image.FlashArr.begin());
      l->image.FBytesRead = static_cast<int32_t>(size);
      l->image.EEpromArr[0] = 7;
      l->image.EBytesRead = 1;
      ASSERT_TRUE(Download(l->link, l->image, l->limits, l->observer).Clean());
      if (c.changedPage >= 0) l->image.FlashArr[static_cast<size_t>(c.changedPage * 128 + 5)] ^= 0x5A;
      if (c.changedPage == -3)
        for (size_t i = 0; i < size; ++i) l->image.FlashArr[i] ^= 0x5A;
      if (size == 600) l->target->Flash()[2 * (0x4000 - 64)] = 0x00;  // the last page holds something now
    }
    skipping.limits.skipUnchanged = true;
    skipping.limits.verify = true;
    const RunResult result = Download(skipping.link, skipping.image, skipping.limits, skipping.observer);
    ASSERT_TRUE(Download(full.link, full.image, full.limits, full.observer).Clean());
    EXPECT_TRUE(result.Clean());
    EXPECT_EQ(result.pagesWritten, c.written);
    EXPECT_EQ(result.pagesSkipped, static_cast<int>(size / 128) + (size % 128 != 0) - c.written);
    EXPECT_TRUE(result.eepromUnchanged);
    // Verified: what the checks before the run matched is not asked again, a rewritten block is.
    ASSERT_TRUE(result.verification);
    EXPECT_EQ(result.verification->outcome, Verification::Outcome::Verified);
    EXPECT_EQ(result.verification->What(), "flash and EEPROM");
    EXPECT_EQ(result.verification->exchanges, c.written ? 1 : 0) << "one block";
    EXPECT_EQ(skipping.target->Flash(), full.target->Flash()) << "the memory of a full download";
    EXPECT_EQ(skipping.target->Eeprom(), full.target->Eeprom());
  }
}

}  // namespace
}  // namespace bm
