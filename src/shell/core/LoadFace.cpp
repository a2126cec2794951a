#include "shell/core/LoadFace.h"

#include "base/HexText.h"

namespace bm {

LoadFace FaceOfLoad(const LoadResult& load) {
  LoadFace face;
  if (load.loaded) {
    face.title = "Brindlemark [" + load.fileName + "]";
    face.file = load.fileName;
    face.flashSize = std::to_string(load.flashBytes) + " Bytes";
    face.eepromSize = std::to_string(load.eepromBytes) + " Bytes";
    face.deviceId = load.deviceId ? HexNumber(static_cast<uint32_t>(*load.deviceId)) : "---";
    face.cpuName = load.cpuName;
    face.mode = Mode::FileLoaded;
  } else {
    face.title = "Brindlemark []";
  }
  face.progFlash = load.flashBytes > 0;
  face.progEeprom = load.eepromBytes > 0;
  return face;
}

}  // namespace bm
