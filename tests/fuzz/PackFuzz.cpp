// Fuzz target: the pack reader over any bytes, read from a file as the program does.
#include "FuzzSupport.h"
#include "base/RuntimeExceptionPlus.h"
#include "images/dParamList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bm::ImageBuffers images;
  static bm::dParamList::ParamSet params;
  bm::Diagnostics found;
  bm::fuzz::NoEvents loop;
  const std::string path = bm::fuzz::WriteScratch("f.pack", data, size);
  try {
    const bool ok = bm::dParamList::LoadPackFile(path, images, params, found, loop).ok;
    if (ok && (images.FBytesRead < 0 || images.FBytesRead > static_cast<int32_t>(size) ||
               images.EBytesRead < 0 || images.EBytesRead > static_cast<int32_t>(size)))
      __builtin_trap();  // a successful read counts only bytes the file holds
  } catch (const bm::RuntimeError&) {
    // Blocks outside the file are an expected outcome.
  }
  return 0;
}
