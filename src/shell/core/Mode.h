// The window's mode, `Modus`: the state of the whole tool, from which UpdateButtons derives the
// lamps, buttons, mode text and blink timer. The number is the documented one.
#pragma once

#include <cstdint>

namespace bm {

enum class Mode : int32_t {
  None = 0,         // "none": nothing loaded
  FileLoaded = 1,   // "file loaded"
  Connected = 2,    // "Target connected"
  Programming = 3,  // "programming": a download or erase runs
  LeaveAsIs = 4,    // UpdateButtons changes nothing
};

constexpr int32_t Number(Mode mode) { return static_cast<int32_t>(mode); }

}  // namespace bm
