// The engine's shared state: the loaded images and what they expect (images/), what the target
// reported (link/), and the link's own state.
//
// One Globals lives in the Engine for the whole run. Each library sees only its part: the
// readers fill an ImageBuffers, identification a TargetInfo, the runs read both; the link flag,
// the port count, the current file and the line buffer are the engine's.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "images/Images.h"
#include "link/TargetInfo.h"

namespace bm {

struct Globals : ImageBuffers, ExpectedIds, TargetInfo {
  bool COMok = false;  // port open and the loader answered
  int32_t serial_count = 0;
  std::optional<std::filesystem::path> f;  // the current file: the one chosen, then each file a reader opened

  LineBuffer st{"", ""};  // the lines of the text file read last
};

}  // namespace bm
