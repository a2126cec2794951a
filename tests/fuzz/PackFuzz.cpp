// Fuzz target: the pack reader over any bytes, read from a file as the program does.
#include "FuzzSupport.h"
#include "images/dParamList.h"
#include "shell/core/RuntimeExceptionPlus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bm::Globals g;
  static bm::dParamList::ParamSet params;
  bm::fuzz::QuietDialogs dialogs;
  bm::fuzz::NoEvents loop;
  const std::string path = bm::fuzz::WriteScratch("f.pack", data, size);
  try {
    const bool ok = bm::dParamList::LoadPackFile(path, g, params, dialogs, loop);
    if (ok && (g.FBytesRead < 0 || g.FBytesRead > static_cast<int32_t>(size) || g.EBytesRead < 0 ||
               g.EBytesRead > static_cast<int32_t>(size)))
      __builtin_trap();  // a successful read counts only bytes the file holds
  } catch (const bm::RuntimeError&) {
    // Blocks outside the file are an expected outcome.
  }
  return 0;
}
