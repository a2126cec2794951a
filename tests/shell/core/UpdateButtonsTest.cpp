#include <gtest/gtest.h>

#include "base/Util.h"
#include "platform/PortList.h"
#include "shell/core/Presenter.h"
#include "support/HeadlessDisplay.h"
#include "support/Inside.h"
#include "support/ModeTable.h"
#include "support/RecordingDialogs.h"
#include "support/ScriptedEventLoop.h"

namespace bm {
namespace {

using namespace Util;

struct Fixture {
  HeadlessDisplay display;
  test::RecordingDialogs dialogs;
  test::ScriptedEventLoop loop;
  PortList ports;
  Engine engine{loop, ports};
  Presenter presenter{engine, display, dialogs};
};

TEST(UpdateButtons, AppliesEveryRowOfTheModeTable) {
  for (const test::ModeRow& row : test::kModeRows)
    for (bool checksBefore : {true, false}) {
      SCOPED_TRACE(row.why);
      SCOPED_TRACE(checksBefore ? "check boxes enabled before" : "check boxes disabled before");
      Fixture f;
      f.display.SetCheckEnabled(Check::ProgFlashChk, checksBefore);
      f.display.SetCheckEnabled(Check::ProgEEpChk, checksBefore);
      f.display.SetCaption(Caption::status0, "old status");
      f.display.SetProgress(77);
      test::Inside(f.presenter).mode = static_cast<Mode>(row.modus);
      test::Inside(f.presenter).g.FBytesRead = row.flashBytes;
      test::Inside(f.presenter).g.EBytesRead = row.eepromBytes;
      f.presenter.UpdateButtons();
      EXPECT_EQ(f.display.timerOn, row.timer);
      EXPECT_EQ(f.display.LedColour(Led::LedRed), row.red);
      EXPECT_EQ(f.display.LedColour(Led::LedYellow), row.yellow);
      EXPECT_EQ(f.display.LedColour(Led::LedGreen), row.green);
      EXPECT_EQ(f.display.Enabled(Button::FOpenBtn), row.load);
      EXPECT_EQ(f.display.Enabled(Button::ComportBtn), row.comport);
      EXPECT_EQ(f.display.Enabled(Button::DownLdBtn), row.download);
      EXPECT_EQ(f.display.Enabled(Button::EraseBtn), row.erase);
      EXPECT_TRUE(f.display.Enabled(Button::StopBtn)) << "Stop is never changed";
      EXPECT_EQ(f.display.Text(Caption::ModeLabel), row.mode);
      EXPECT_EQ(f.display.Enabled(Check::ProgFlashChk), row.FlashChkAfter(checksBefore));
      EXPECT_EQ(f.display.Enabled(Check::ProgEEpChk), row.EepChkAfter(checksBefore));
      EXPECT_EQ(f.display.Text(Caption::status0), row.modus == 1 ? "" : "old status");
      EXPECT_EQ(f.display.progress, row.modus == 2 ? 0 : 77);
    }
}

TEST(UpdateButtons, UnknownModeChangesNothing) {
  Fixture f;
  const HeadlessDisplay before = f.display;
  test::Inside(f.presenter).mode = Mode::LeaveAsIs;
  f.presenter.UpdateButtons();
  EXPECT_EQ(f.display.leds, before.leds);
  EXPECT_EQ(f.display.buttons, before.buttons);
  EXPECT_EQ(f.display.captions, before.captions);
  EXPECT_EQ(f.display.checkEnabled, before.checkEnabled);
  EXPECT_EQ(f.display.timerOn, before.timerOn);
}

TEST(UpdateButtons, LeavingProgrammingRelightsTheRedLampWhateverTheTimerLeft) {
  Fixture f;
  test::Inside(f.presenter).mode = Mode::Programming;
  f.presenter.UpdateButtons();
  f.presenter.Timer1_Action();
  EXPECT_EQ(f.display.LedColour(Led::LedRed), clMaroon);
  f.presenter.Timer1_Action();
  EXPECT_EQ(f.display.LedColour(Led::LedRed), clRed);
  test::Inside(f.presenter).mode = Mode::Connected;
  f.presenter.UpdateButtons();
  EXPECT_FALSE(f.display.timerOn);
  EXPECT_EQ(f.display.LedColour(Led::LedRed), clMaroon);
}

TEST(MainOpen, EmptiesStatusLinesAndCountsPorts) {
  Fixture f;
  f.presenter.Open();
  EXPECT_EQ(f.display.Text(Caption::status0), "");
  EXPECT_EQ(f.display.Text(Caption::status1), "");
  EXPECT_EQ(test::Inside(f.presenter).g.serial_count, 0);
  EXPECT_EQ(f.display.Text(Caption::ModeLabel), "none") << "Open does not run UpdateButtons";
  EXPECT_EQ(f.display.LedColour(Led::LedRed), clMaroon);
}

TEST(Util, Conversions) {
  for (uint8_t b : {1, 255}) EXPECT_TRUE(int2bool(b)) << int(b);
  for (uint8_t b : {0, 2, 254}) EXPECT_FALSE(int2bool(b)) << int(b);
  EXPECT_EQ(hi(0x12AB), 0x12);
  EXPECT_EQ(lo(0x12AB), 0xAB);
}

TEST(Util, IsValidHex) {
  const std::pair<const char*, bool> cases[] = {
      {"&h1F", true},  {"1f", true},   {"&h", true},  {"&H", true},    {"", true},     {"&hAbCdEf09", true},
      {"&h1G", false}, {" 1F", false}, {"-1", false}, {"&h-1", false}, {"h1F", false},
  };
  for (auto [text, valid] : cases) EXPECT_EQ(IsValidHex(text), valid) << '"' << text << '"';
}

TEST(Handle, AnEscapingErrorReachesTheHookAndTheProgramGoesOn) {
  Fixture f;
  f.presenter.Handle([] { throw std::out_of_range("index 70000 out of range"); });
  ASSERT_EQ(f.dialogs.messages.size(), 1u);
  EXPECT_NE(f.dialogs.messages[0].find("index 70000 out of range"), std::string::npos);
}

TEST(BusyScope, DisablesTheBaudPopUpUntilTheOutermostScopeEnds) {
  Fixture f;
  {
    Presenter::BusyScope outer(f.presenter);
    EXPECT_TRUE(f.presenter.Busy());
    EXPECT_FALSE(f.display.baudEnabled);
    { Presenter::BusyScope inner(f.presenter); }
    EXPECT_FALSE(f.display.baudEnabled);
  }
  EXPECT_FALSE(f.presenter.Busy());
  EXPECT_TRUE(f.display.baudEnabled);
}

}  // namespace
}  // namespace bm
