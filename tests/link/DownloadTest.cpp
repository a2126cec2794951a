// The download and erase sequences, exact to the byte, and Stop.
#include <gtest/gtest.h>

#include "link/TargetBench.h"
#include "protocol/wire.h"
#include "support/Inside.h"

namespace bm {
namespace {

using test::Bytes;
using test::Hex;
using test::Image;
using test::TargetBench;
using test::TraceOnFailure;

// "A" with a word address.
std::string SetAddress(int word) { return Bytes({'A', word & 0xFF, (word >> 8) & 0xFF}); }

// What the window sends before every run: the liveness check, then the identification again.
const std::string kCheck = "?I";

std::string Page(const std::vector<uint8_t>& image, size_t from, size_t bytes) {
  std::string page;
  for (size_t i = from; i < from + bytes; ++i) page += static_cast<char>(i < image.size() ? image[i] : 0xFF);
  return page;
}

TEST(Download, ThreeBlocksOfA300ByteImageExactToTheByte) {
  TargetBench b;
  TraceOnFailure trace(b, "300-byte image");
  const auto image = Image(300);
  b.Load(image);
  ASSERT_TRUE(b.Connect());
  b.Mark();
  b.display.progressLog.clear();
  b.display.status0Log.clear();
  b.presenter.DownLdBtn_Action();

  std::string expected = kCheck + SetAddress(0x3FC0) + "E";  // the last page first: 41 C0 3F, 45
  for (int block = 0; block < 3; ++block)
    expected += SetAddress(block * 64) + "E" + "D" + Page(image, block * 128, 128) + "P";
  EXPECT_EQ(Hex(b.Sent()), Hex(expected));
  EXPECT_EQ(b.display.progressLog, (std::vector<int>{0, 43, 85, 128, 0}));
  EXPECT_EQ(
      b.display.status0Log,
      (std::vector<std::string>{"programming Flash",
                                "Download finished in 0.0 s (not verified: the file names no loader ID)"}));
  EXPECT_EQ(b.presenter.ModeNumber(), 2);
  EXPECT_TRUE(b.dialogs.messages.empty());
  EXPECT_TRUE(test::Inside(b.presenter).g.COMok) << "the run sends no release";
  // The bytes past the image end went out as the buffer holds them, 0xFF.
  EXPECT_TRUE(std::equal(image.begin(), image.end(), b.target().Flash().begin()));
  EXPECT_EQ(b.target().Flash()[300], 0xFF);
  EXPECT_EQ(b.target().UndrainedReplyWindows(), 0) << "each checksum wait began after its page had left";
}

// At the slowest rates a reply takes longer on the line than the whole 50 ms window: at 300 baud
// "?" and its "KW" take 110 ms, the 8 bytes of "i" 293 ms, a page 4.7 s. With the line time in
// every window the window's download runs whole and verified, and a download that first asks the
// chip what it holds (the command line's) finds it all there: every check crossed the line too.
TEST(Download, SlowRatesRunWholeWithTheLineTimeInEachWindow) {
  for (const int baud : {300, 1200}) {
    SCOPED_TRACE(std::to_string(baud) + " baud");
    sim::SimTargetConfig config = test::TestBoard();
    config.paced = true;
    TargetBench b(config);
    TraceOnFailure trace(b, std::to_string(baud) + " baud");
    b.engine.SetBaudRate(baud);
    const auto image = Image(300);
    const std::vector<uint8_t> eeprom{1, 2, 3};
    b.Load(image, eeprom, 0, 0x101);  // the file names the loader ID: the window verifies
    ASSERT_TRUE(b.Connect());
    const auto& ids = test::Inside(b.presenter).g.LoaderIds;
    ASSERT_TRUE(ids.has_value());
    EXPECT_EQ((*ids)[3], WIRE_CAPABILITY_CRC32) << "the last of the 8 bytes of \"i\" was awaited too";
    b.presenter.DownLdBtn_Action();
    EXPECT_TRUE(b.dialogs.messages.empty()) << b.dialogs.messages.front();
    const RunResult& first = b.presenter.LastRun().result;
    EXPECT_TRUE(first.Clean());
    ASSERT_TRUE(first.verification.has_value());
    EXPECT_EQ(first.verification->outcome, Verification::Outcome::Verified);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), b.target().Flash().begin()));
    EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), b.target().Eeprom().begin()));
    EXPECT_EQ(b.target().UndrainedReplyWindows(), 0);

    RunRequest again;
    again.verify = VerifyMode::Required;
    again.skipUnchanged = true;
    const RunResult second = b.engine.Download(again).result;
    EXPECT_TRUE(second.Clean());
    EXPECT_EQ(second.pagesWritten, 0);
    EXPECT_EQ(second.pagesSkipped, 3);
    EXPECT_TRUE(second.eepromUnchanged);
    ASSERT_TRUE(second.verification.has_value());
    EXPECT_EQ(second.verification->outcome, Verification::Outcome::Verified);
  }
}

TEST(Download, AllFFBlocksAreErasedButNotWritten) {
  TargetBench b;
  auto image = Image(384);
  std::fill(image.begin() + 128, image.begin() + 256, 0xFF);
  b.Load(image);
  ASSERT_TRUE(b.Connect());
  b.target().Flash().assign(b.target().Flash().size(), 0x00);  // erased pages show as 0xFF
  b.Mark();
  b.presenter.DownLdBtn_Action();
  const std::string expected = kCheck + SetAddress(0x3FC0) + "E" + SetAddress(0) + "E" + "D" +
                               Page(image, 0, 128) + "P" + SetAddress(64) + "E" + SetAddress(128) + "E" +
                               "D" + Page(image, 256, 128) + "P";
  EXPECT_EQ(Hex(b.Sent()), Hex(expected)) << b.TraceText();
  EXPECT_TRUE(std::all_of(b.target().Flash().begin() + 128, b.target().Flash().begin() + 256,
                          [](uint8_t v) { return v == 0xFF; }));
}

TEST(Download, EepromUpToItsLimit) {
  struct Case {
    int bytes, limit, written;
    const char* why;
  } cases[] = {
      {512, 256, 256, "the file's limit cuts the image"},
      {100, 256, 100, "an image below the limit is written whole"},
      {40, 0, 40, "no limit"},
      {40, -1, 40, "a negative limit is no limit"},
  };
  for (const Case& c : cases) {
    TargetBench b;
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    auto eeprom = Image(c.bytes, 3);
    eeprom[5] = 0xFF;  // written too
    b.Load({}, eeprom);
    test::Inside(b.presenter).g.OrgEEpEnd = c.limit;
    ASSERT_TRUE(b.Connect());
    b.Mark();
    b.display.progressLog.clear();
    b.display.status0Log.clear();
    b.presenter.DownLdBtn_Action();
    std::string expected = kCheck;
    for (int a = 0; a < c.written; ++a) expected += Bytes({'B', a & 0xFF, a >> 8, eeprom[a]});
    EXPECT_EQ(Hex(b.Sent()), Hex(expected));
    EXPECT_EQ(b.display.status0Log,
              (std::vector<std::string>{"programming EEprom", "Download finished in 0.0 s"}));
    EXPECT_EQ(b.display.progressLog.size(), static_cast<size_t>(c.written + 2));
    EXPECT_EQ(b.display.progressLog[c.written], 100);
    EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.begin() + c.written, b.target().Eeprom().begin()));
    EXPECT_EQ(b.target().Eeprom()[c.written], 0xFF) << "nothing past the end";
  }
}

TEST(Download, BothBoxesClearSendsOnlyTheCheck) {
  TargetBench b;
  b.Load(Image(300), Image(10));
  ASSERT_TRUE(b.Connect());
  b.display.SetCheckValue(Check::ProgFlashChk, false);
  b.display.SetCheckValue(Check::ProgEEpChk, false);
  b.Mark();
  b.presenter.DownLdBtn_Action();
  EXPECT_EQ(b.Sent(), kCheck);
  EXPECT_EQ(b.presenter.ModeNumber(), 2);
}

// A stray byte on the line ahead of a reply must be flushed away: before each command, after
// the "D" letter and after "B" with its address. A flush left out reads the stray byte as the
// next reply, and the run fails.
TEST(Download, StrayBytesAheadOfAReplyAreFlushedAway) {
  using K = sim::FaultKind;
  struct Case {
    sim::Fault fault;
    const char* why;
  } cases[] = {
      {{'?', 2, K::StrayAfterReply}, "after \"KW\" of the check: the flush before \"I\""},
      {{'A', 1, K::StrayAfterReply}, "after an \"A\" acknowledge: the flush before \"E\""},
      {{'E', 2, K::StrayAfterReply}, "after an \"E\" acknowledge: the flush before \"D\""},
      {{'D', 1, K::StrayBeforeReply}, "on the line as \"D\" arrives: the flush after \"D\""},
      {{'D', 1, K::StrayAfterReply}, "after the checksum: the flush before \"P\""},
      {{'P', 1, K::StrayAfterReply}, "after a \"P\" acknowledge: the flush before the next \"A\""},
      {{'B', 1, K::StrayBeforeReply}, "on the line as \"B\" arrives: the flush after its address"},
      {{'B', 1, K::StrayAfterReply}, "after a \"B\" acknowledge: the flush before the next \"B\""},
  };
  for (const Case& c : cases) {
    TargetBench b;
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    const auto flash = Image(300), eeprom = Image(4, 9);
    b.Load(flash, eeprom, 0x1E950F, 0x0101);
    ASSERT_TRUE(b.Connect());
    b.target().AddFault(c.fault);
    b.presenter.DownLdBtn_Action();
    EXPECT_TRUE(b.dialogs.messages.empty());
    EXPECT_TRUE(b.presenter.LastRun().result.Clean());
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), b.target().Flash().begin()));
    EXPECT_TRUE(std::equal(eeprom.begin(), eeprom.end(), b.target().Eeprom().begin()));
  }
}

TEST(Download, AnImageLargerThanTheFlashIsRefusedBeforeAnythingIsWritten) {
  auto config = test::TestBoard();
  config.flashWords = 128;  // two pages: 256 bytes
  config.bootWords = 0;
  struct Case {
    int flashBytes;
    bool flashTicked;
    bool refused;
    const char* why;
  } cases[] = {
      {257, true, true, "one byte too many"},
      {256, true, false, "exactly the flash"},
      {1000, false, false, "flash box clear: only the EEPROM is written"},
  };
  for (const Case& c : cases) {
    TargetBench b(config);
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    b.Load(Image(c.flashBytes), Image(3));
    ASSERT_TRUE(b.Connect());
    b.display.SetCheckValue(Check::ProgFlashChk, c.flashTicked);
    b.Mark();
    b.presenter.DownLdBtn_Action();
    if (c.refused) {
      EXPECT_EQ(b.Sent(), kCheck) << "nothing erased or written";
      EXPECT_EQ(b.dialogs.messages, (std::vector<std::string>{
                                        "The flash image (257 bytes) is larger than the target's flash (256 "
                                        "bytes).\nNothing was written."}));
      EXPECT_EQ(b.presenter.LastRun().start, RunStart::DoesNotFit);
    } else {
      EXPECT_TRUE(b.dialogs.messages.empty());
      EXPECT_TRUE(b.presenter.LastRun().result.Clean());
    }
    EXPECT_EQ(b.presenter.ModeNumber(), 2) << "still connected";
    EXPECT_TRUE(test::Inside(b.presenter).ComPort.IsOpen());
  }
}

TEST(Download, ATargetThatStoppedAnsweringIsReportedAndTheWindowDropsToFileLoaded) {
  for (sim::FaultKind kind : {sim::FaultKind::WrongReply, sim::FaultKind::NoReply}) {
    TargetBench b;
    b.Load(Image(300));
    ASSERT_TRUE(b.Connect());
    b.target().AddFault({'?', 2, kind});
    b.Mark();
    b.display.progress = 55;
    b.presenter.DownLdBtn_Action();
    EXPECT_EQ(b.Sent(), "?") << "no X: the loader did not answer";
    EXPECT_EQ(b.dialogs.messages, (std::vector<std::string>{"Target not found"}));
    EXPECT_EQ(b.presenter.ModeNumber(), 1);
    EXPECT_EQ(b.display.Text(Caption::ModeLabel), "file loaded");
    EXPECT_EQ(b.display.Text(Caption::status1), "COMport none");
    EXPECT_FALSE(test::Inside(b.presenter).ComPort.IsOpen());
    EXPECT_FALSE(test::Inside(b.presenter).g.COMok);
    EXPECT_EQ(b.display.progress, 0);
    EXPECT_EQ(b.presenter.LastRun().start, RunStart::NoAnswer);
  }
}

TEST(Download, ABoardSwappedBehindTheOpenPortIsIdentifiedAgainAndRefused) {
  struct Case {
    uint32_t signature;
    std::array<uint16_t, 4> loaderIds;
    std::string sent;
    std::string message;
    const char* why;
  } cases[] = {
      {0x1E9514, {0x101, 0, 0, 0}, "?IX", "Device ID :\r1E950F\rexpected!", "another chip"},
      {0x1E950F, {0x202, 0, 0, 0}, "?IiX", "Requested LoaderID is &h101", "another loader"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    TargetBench b;
    TraceOnFailure trace(b, c.why);
    b.Load(Image(300), {}, 0x1E950F, 0x101);
    ASSERT_TRUE(b.Connect());
    // Another board behind the same port: its own signature and loader.
    auto config = test::TestBoard();
    config.signature = c.signature;
    config.loaderIds = c.loaderIds;
    *b.targets[0] = sim::SimTarget(config, b.loop.Clock());
    b.Mark();
    b.presenter.DownLdBtn_Action();
    EXPECT_EQ(Hex(b.Sent()), Hex(c.sent)) << "identified, refused, released: nothing erased or written";
    ASSERT_EQ(b.dialogs.messages.size(), 1u);
    EXPECT_NE(b.dialogs.messages[0].find(c.message), std::string::npos) << b.dialogs.messages[0];
    EXPECT_EQ(b.presenter.ModeNumber(), 0);
    EXPECT_EQ(b.display.Text(Caption::status0), "COMport none");
    EXPECT_EQ(b.display.Text(Caption::status1), "ERROR");
    EXPECT_EQ(b.presenter.LastRun().start, RunStart::NotIdentified);
  }
}

TEST(Erase, PagesOverTheImageRangeOnly) {
  struct Case {
    int imageBytes;
    std::vector<int> words;
    std::vector<int> progress;
    const char* why;
  } cases[] = {
      {300, {0, 64, 128}, {0, 43, 85, 128, 0}, "three pages, no last-page erase"},
      {128, {0}, {0, 100, 0}, "exactly one page"},
      {0x8000 + 300, {}, {}, "larger than the flash: erased up to its end"},
  };
  for (const Case& c : cases) {
    TargetBench b;
    TraceOnFailure trace(b, c.why);
    SCOPED_TRACE(c.why);
    b.Load(Image(c.imageBytes), Image(4));
    ASSERT_TRUE(b.Connect());
    b.Mark();
    b.display.progressLog.clear();
    b.presenter.EraseBtn_Action();
    std::string expected = kCheck;
    std::vector<int> words = c.words;
    if (words.empty())
      for (int w = 0; w < 0x4000; w += 64) words.push_back(w);
    for (int w : words) expected += SetAddress(w) + "E";
    EXPECT_EQ(Hex(b.Sent()), Hex(expected));
    if (!c.progress.empty()) {
      EXPECT_EQ(b.display.progressLog, c.progress);
    }
    EXPECT_EQ(b.presenter.ModeNumber(), 2);
    EXPECT_TRUE(b.dialogs.messages.empty());
  }
}

// An EEPROM-only file: Erase must not reach the target at all (an erase of page 0 would wipe the
// vector table of a working board). The window says why in status line 0; no box, still connected.
TEST(Erase, WithoutAFlashImageSendsNothingAndSaysSo) {
  TargetBench b;
  b.Load({}, Image(4));
  ASSERT_TRUE(b.Connect());
  const std::vector<uint8_t> flash = b.target().Flash();
  b.Mark();
  b.presenter.EraseBtn_Action();
  EXPECT_EQ(Hex(b.Sent()), "") << "no \"?\", no \"A\", no \"E\"";
  EXPECT_EQ(b.target().Flash(), flash);
  EXPECT_EQ(b.display.Text(Caption::status0), "Nothing to erase: no flash image is loaded");
  EXPECT_EQ(b.presenter.LastRun().start, RunStart::NothingToWrite);
  EXPECT_EQ(b.presenter.ModeNumber(), 2);
  EXPECT_TRUE(b.dialogs.messages.empty());
}

TEST(Stop, SendsXClosesAndDropsToFileLoaded) {
  TargetBench b;
  b.Load(Image(10));
  b.presenter.StopBtn_Action();
  EXPECT_EQ(b.target().SentBytes(), "") << "not connected: nothing sent";
  EXPECT_EQ(b.presenter.ModeNumber(), 1);
  ASSERT_TRUE(b.Connect());
  b.Mark();
  b.presenter.StopBtn_Action();
  EXPECT_EQ(b.Sent(), "X");
  EXPECT_TRUE(b.target().Started());
  EXPECT_FALSE(test::Inside(b.presenter).ComPort.IsOpen());
  EXPECT_FALSE(test::Inside(b.presenter).g.COMok);
  EXPECT_EQ(b.presenter.ModeNumber(), 1);
  EXPECT_EQ(b.display.Text(Caption::ModeLabel), "file loaded");
  EXPECT_FALSE(b.display.Enabled(Button::DownLdBtn));

  TargetBench none;
  none.presenter.StopBtn_Action();
  EXPECT_EQ(none.presenter.ModeNumber(), 0) << "mode 0 stays";
}

}  // namespace
}  // namespace bm
