// What the window tests of both systems share, without a toolkit: a small project, its images
// and a pack for the simulated board (an ATmega328P with loader ID 0101), in a folder whose name
// is not ASCII.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/packwriter/PackWriter.h"
#include "base/FileOpen.h"

namespace bm::test {

// An Intel HEX file of `data` from address 0, 16 bytes a record.
inline std::string HexFile(const std::vector<uint8_t>& data) {
  std::string text;
  char line[64];
  for (size_t at = 0; at < data.size(); at += 16) {
    const size_t n = std::min<size_t>(16, data.size() - at);
    int sum = static_cast<int>(n) + static_cast<int>(at >> 8) + static_cast<int>(at & 0xFF);
    std::snprintf(line, sizeof line, ":%02X%04X00", static_cast<unsigned>(n), static_cast<unsigned>(at));
    text += line;
    for (size_t i = 0; i < n; ++i) {
      std::snprintf(line, sizeof line, "%02X", data[at + i]);
      text += line;
      sum += data[at + i];
    }
    std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += line;
  }
  return text + ":00000001FF\n";
}

struct Fixtures {
  Fixtures() {
    std::random_device random;
    // "Jürgen": a name the ANSI calls would spell wrong.
    folder = std::filesystem::temp_directory_path() /
             PathFromName("brindlemark J\xC3\xBCrgen " + std::to_string(random()));
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 300; ++i) flash.push_back(static_cast<uint8_t>(i * 7 % 0x50));  // no 'X' (0x58)
    eeprom = {0x11, 0x22, 0x33, 0x44};
    Write("blink.hex", HexFile(flash));
    Write("blink.eep", HexFile(eeprom));
    Write("blink.ppro",
          "[Project]\nDeviceID=$1E950F\nCPUname=ATmega328P\nBootLoaderID=$0101\nEEpromMax=1024\nBaudRate="
          "57600\n");
    dParamList::ParamSet params;
    params.eProjectName = "Blink pack";
    params.eCPUname = "ATmega328P";
    params.eDeviceID = 0x1E950F;
    params.eClock = 16000000;
    params.eProgFlash = true;
    params.eFProgEnd = 300;
    const std::vector<uint8_t> pack = packwriter::Pack(params, flash, eeprom);
    Write("blink.pac", std::string(pack.begin(), pack.end()));
  }
  ~Fixtures() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  void Write(const char* name, const std::string& bytes) {
    std::ofstream(folder / name, std::ios::binary) << bytes;
  }
  // The file's name as the program holds names: UTF-8.
  std::string Path(const char* name) const {
    const std::u8string text = (folder / name).u8string();
    return std::string(text.begin(), text.end());
  }

  std::filesystem::path folder;
  std::vector<uint8_t> flash, eeprom;
};

}  // namespace bm::test
