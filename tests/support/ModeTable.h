// The mode table as the tests expect it, written once: the headless display and the real
// window are both checked against these rows.
#pragma once

#include <cstdint>

#include "shell/core/StatusDisplay.h"

namespace bm::test {

struct ModeRow {
  int modus;
  int flashBytes, eepromBytes;
  bool timer;
  uint32_t red, yellow, green;
  bool load, comport, download, erase;
  const char* mode;
  bool flashChk, eepChk;  // enabled states afterwards (modes 2 and 3 keep whatever they were)
  const char* why;

  // The enabled state a check box has after UpdateButtons, given the one it had before.
  bool FlashChkAfter(bool before) const { return modus >= 2 ? before : flashChk; }
  bool EepChkAfter(bool before) const { return modus >= 2 ? before : eepChk; }
};

inline constexpr ModeRow kModeRows[] = {
    {0, 10, 10, false, Util::clRed, Util::clOlive, Util::clGreen, true, false, false, false, "none", false,
     false, "nothing loaded: red lit, check boxes off"},
    {1, 10, 0, false, Util::clMaroon, Util::clYellow, Util::clGreen, true, true, false, false, "file loaded",
     true, false, "flash only: only the flash box usable"},
    {1, 0, 5, false, Util::clMaroon, Util::clYellow, Util::clGreen, true, true, false, false, "file loaded",
     false, true, "EEPROM only: only the EEPROM box usable"},
    {2, 10, 10, false, Util::clMaroon, Util::clOlive, Util::clLime, true, true, true, true,
     "Target connected", true, true, "connected: check boxes keep their state"},
    {3, 10, 10, true, Util::clRed, Util::clYellow, Util::clGreen, false, false, false, false, "programming",
     true, true, "programming: timer on, every action but Stop off"},
};

}  // namespace bm::test
