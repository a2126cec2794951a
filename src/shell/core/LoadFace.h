// What the window shows of a load: the title, the captions of the file, its sizes and what it
// expects, the mode and the check boxes. One function gives it from the load's result, for the
// presenter and for `load --json`, which reports the same face.
#pragma once

#include <string>

#include "shell/core/Mode.h"
#include "shell/core/Outcomes.h"

namespace bm {

// Starts as the main window's creation state (before any load).
struct LoadFace {
  std::string title = "Brindlemark";
  std::string file = "none";
  std::string flashSize = "0 Bytes";
  std::string eepromSize = "0 Bytes";
  std::string deviceId = "---";
  std::string cpuName = "---";
  Mode mode = Mode::None;
  bool progFlash = false;
  bool progEeprom = false;
};

LoadFace FaceOfLoad(const LoadResult& load);

}  // namespace bm
