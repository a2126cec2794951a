// Fuzz target: a project file read as the loading step reads it, with small valid images beside
// it, so the line reader, the key lookup, the value rules and the image names all run on any text.
#include "FuzzSupport.h"
#include "images/ProjectFile.h"
#include "images/UHexLoad.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool images = [] {
    const std::string hex = ":0100000042BD\n:00000001FF\n";
    const std::string eep = ":020000001122CB\n:00000001FF\n";
    bm::fuzz::WriteScratch("p.hex", reinterpret_cast<const uint8_t*>(hex.data()), hex.size());
    bm::fuzz::WriteScratch("p.eep", reinterpret_cast<const uint8_t*>(eep.data()), eep.size());
    return true;
  }();
  (void)images;
  static bm::ImageBuffers buffers;
  static bm::LineBuffer st;
  bm::Diagnostics found;
  bm::fuzz::NoEvents loop;

  const std::string path = bm::fuzz::WriteScratch("p.ppro", data, size);
  const bm::ProjectFile::ProjectKeys keys = bm::ProjectFile::ReadProject(path, st, loop);
  const int32_t flash = bm::UHexLoad::IntelHex(keys.flashPath, false, buffers, st, found, loop).end;
  const int32_t eeprom = bm::UHexLoad::IntelHex(keys.eepromPath, true, buffers, st, found, loop).end;
  if (flash != 1 || eeprom != 2) __builtin_trap();  // the images beside the project always load
  return 0;
}
