// Fuzz target: the HEX reader's record pass over any text, into either buffer.
#include "FuzzSupport.h"
#include "base/RuntimeExceptionPlus.h"
#include "images/UHexLoad.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bm::ImageBuffers images;
  static bm::LineBuffer st;
  bm::Diagnostics found;
  bm::fuzz::NoEvents loop;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (bool toEEPROM : {false, true}) {
    st.Assign(std::string(text));
    try {
      const int32_t end = bm::UHexLoad::ProcessLines(toEEPROM, images, st, found, loop).end;
      // The image end never passes the buffer it was read into.
      if (end < 0 || end > static_cast<int32_t>(toEEPROM ? images.EEpromArr.size() : images.FlashArr.size()))
        __builtin_trap();
    } catch (const bm::RuntimeError&) {
      // The EEPROM bounds error is an expected outcome.
    }
  }
  return 0;
}
