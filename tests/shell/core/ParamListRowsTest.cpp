// The parameter list's texts, without a window.
#include <gtest/gtest.h>

#include <functional>

#include "shell/core/ParamListRows.h"

namespace bm {
namespace {

using dParamList::ParamSet;

TEST(ParamListRows, ValueTexts) {
  struct Case {
    std::function<void(ParamSet&)> set;
    int row;  // 0-based
    const char* text;
    const char* why;
  };
  const Case cases[] = {
      {[](ParamSet& p) { p.eProjectName = "Blink"; }, 0, "Blink", "name as it is"},
      {[](ParamSet& p) { p.eProjectName = ""; }, 0, "", "empty name, empty value"},
      {[](ParamSet& p) { p.eFileAge = 250; }, 1, "250", "file age unscaled"},
      {[](ParamSet& p) { p.eFileAge = -7; }, 1, "-7", "negative with a minus, no grouping"},
      {[](ParamSet& p) { p.eCreateDate = 250; }, 2, "2.5", "hundredths, no trailing zero"},
      {[](ParamSet& p) { p.eCreateDate = 12345; }, 2, "123.45", "no rounding noise"},
      {[](ParamSet& p) { p.eCreateDate = 1200; }, 2, "12", "whole number without a point"},
      {[](ParamSet& p) { p.eCreateDate = 2147483647; }, 2, "21474836.47", "largest value still exact"},
      {[](ParamSet& p) { p.eCPUname = "ATmega328P"; }, 3, "ATmega328P", "CPU name as it is"},
      {[](ParamSet& p) { p.eClock = 999999; }, 4, "999999 Hz", "one below a million: Hz with a space"},
      {[](ParamSet& p) { p.eClock = 1000000; }, 4, "1MHz", "exactly a million: no space"},
      {[](ParamSet& p) { p.eClock = 3686400; }, 4, "3.6864MHz", "crystal clock written as it is"},
      {[](ParamSet& p) { p.eClock = 16000000; }, 4, "16MHz", "whole megahertz"},
      {[](ParamSet& p) { p.eClock = 32768; }, 4, "32768 Hz", "watch crystal"},
      {[](ParamSet& p) { p.eClock = 0; }, 4, "0 Hz", "zero"},
      {[](ParamSet& p) { p.eClock = -5; }, 4, "0 Hz", "negative counts as zero"},
      {[](ParamSet& p) { p.eProgFlash = false, p.eFProgEnd = 2048; }, 5, "none",
       "not programmed: count ignored"},
      {[](ParamSet& p) { p.eProgFlash = true, p.eFProgEnd = 2048; }, 5, "2048bytes", "flash: no space"},
      {[](ParamSet& p) { p.eProgEEprom = false, p.eEProgEnd = 2048; }, 6, "none", "not programmed"},
      {[](ParamSet& p) { p.eProgEEprom = true, p.eEProgEnd = 2048; }, 6, "2048 bytes", "EEPROM: one space"},
      {[](ParamSet& p) { p.eProgFuses = true; }, 7, "yes", "fuses"},
      {[](ParamSet& p) { p.eProgFuses = false; }, 7, "no", "no fuses"},
      {[](ParamSet& p) { p.eNoLockDev = true; }, 8, "no", "lock bits row is the negation"},
      {[](ParamSet& p) { p.eNoLockDev = false; }, 8, "yes", "lock bits programmed"},
      {[](ParamSet& p) { p.eAutoRelease = true; }, 9, "yes", "auto release"},
      {[](ParamSet& p) { p.eAutoRelease = false; }, 9, "no", "no auto release"},
      {[](ParamSet&) {}, 10, "yes", "SPI always yes"},
      {[](ParamSet& p) { p.eVoltage = 0x054A; }, 11, "Zorrel 3.30V max 30mA", "mode 0x400, 330"},
      {[](ParamSet& p) { p.eVoltage = 0x09F4; }, 11, "Zorrel 5.00V max 100mA", "mode 0x800, 500"},
      {[](ParamSet& p) { p.eVoltage = 0x03FF; }, 11, "Target itself", "mode 0 whatever the voltage"},
      {[](ParamSet& p) { p.eVoltage = 0xFC32; }, 11, "Zorrel .50V max 100mA",
       "no leading zero before the point"},
      {[](ParamSet& p) { p.eVoltage = 0x07FF; }, 11, "Zorrel 10.23V max 30mA", "highest voltage"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ParamSet params;
    c.set(params);
    EXPECT_EQ(ParamListRows(params)[c.row].value, c.text);
  }
}

TEST(ParamListRows, LabelsTitleAndRowColours) {
  const char* labels[] = {
      "Project Name",        "File created",        "File downloaded",   "CPU Name",
      "CPU Clock",           "Flash to program",    "EEprom to program", "Fuse to program",
      "Lockbits to program", "Auto release target", "SPI programming",   "Target powered by"};
  ParamSet params;
  const auto rows = ParamListRows(params);
  ASSERT_EQ(rows.size(), 12u);
  for (int i = 0; i < 12; ++i) {
    EXPECT_STREQ(rows[i].label, labels[i]);
    EXPECT_EQ(ParamRowBackground(i), i % 2 == 0 ? 0xFFFFFFu : 0xF1F5FFu) << "row " << i;
  }
  EXPECT_EQ(ParamListTitle(params), "Parameter list of ");
  params.eProjectName = "Blink";
  EXPECT_EQ(ParamListTitle(params), "Parameter list of Blink");
}

}  // namespace
}  // namespace bm
