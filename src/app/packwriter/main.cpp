// brindlemark-packwriter: builds a pack file from a flash .hex and an EEPROM .eep image.
//
//   brindlemark-packwriter --out FILE.pack [--flash F.hex] [--eeprom F.eep] [--device-id HEX]
//       [--boot-id HEX] [--cpu NAME] [--project NAME] [--eeprom-max N] [--clock HZ]
//       [--voltage N] [--file-age N] [--create-date N]
//
// The images are read with the program's own HEX reader, so a pack holds exactly what loading
// the .hex/.eep pair would put in the buffers.
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "app/packwriter/PackWriter.h"
#include "images/ProjectFile.h"
#include "images/UHexLoad.h"

namespace {

class NoEvents : public bm::EventLoop {
 public:
  void processEvents(int) override {}
  void yield() override {}
};

// The image a HEX file puts in the buffer: addresses 0 up to its image end.
bool ReadImage(const std::string& path, bool eeprom, std::vector<uint8_t>& out) {
  bm::ImageBuffers g;
  bm::LineBuffer lines;
  std::fill(g.FlashArr.begin(), g.FlashArr.end(), 0xFF);
  std::fill(g.EEpromArr.begin(), g.EEpromArr.end(), 0xFF);
  bm::Diagnostics found;
  NoEvents loop;
  const int32_t end = bm::UHexLoad::IntelHex(path, eeprom, g, lines, found, loop).end;
  for (const bm::Diagnostic& d : found) std::cerr << d.text << '\n';
  if (!found.empty()) return false;
  const std::vector<uint8_t>& buffer = eeprom ? g.EEpromArr : g.FlashArr;
  out.assign(buffer.begin(), buffer.begin() + end);
  return true;
}

int32_t Number(const std::string& text, bool hex) {
  return bm::ProjectFile::Val(hex && text.rfind("&h", 0) != 0 ? "&h" + text : text);
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> opts;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--", 0) != 0 || i + 1 >= argc) {
      std::cerr << "Usage: brindlemark-packwriter --out FILE.pack [--flash F.hex] [--eeprom F.eep]"
                   " [--device-id HEX] [--boot-id HEX] [--cpu NAME] [--project NAME] [--eeprom-max N]"
                   " [--clock HZ] [--voltage N] [--file-age N] [--create-date N]\n";
      return 2;
    }
    opts[a.substr(2)] = argv[++i];
  }
  if (!opts.count("out")) {
    std::cerr << "brindlemark-packwriter: --out is required\n";
    return 2;
  }
  try {
    std::vector<uint8_t> flash, eeprom;
    if (opts.count("flash") && !ReadImage(opts["flash"], false, flash)) return 1;
    if (opts.count("eeprom") && !ReadImage(opts["eeprom"], true, eeprom)) return 1;

    bm::dParamList::ParamSet p;
    p.eFileVersion = 1;
    p.eProjectName = opts.count("project") ? opts["project"] : "";
    p.eCPUname = opts.count("cpu") ? opts["cpu"] : "";
    p.eDeviceID = opts.count("device-id") ? Number(opts["device-id"], true) : 0;
    p.eBootID = static_cast<uint16_t>(opts.count("boot-id") ? Number(opts["boot-id"], true) : 0);
    p.eEEpromMax = opts.count("eeprom-max") ? Number(opts["eeprom-max"], false) : 0;
    p.eClock = opts.count("clock") ? Number(opts["clock"], false) : 0;
    p.eVoltage = static_cast<uint16_t>(opts.count("voltage") ? Number(opts["voltage"], false) : 0);
    p.eFileAge = opts.count("file-age") ? Number(opts["file-age"], false) : 0;
    p.eCreateDate = opts.count("create-date") ? Number(opts["create-date"], false) : 0;
    p.eProgFlash = !flash.empty();
    p.eProgEEprom = !eeprom.empty();
    p.eFProgEnd = static_cast<int32_t>(flash.size());
    p.eEProgEnd = static_cast<int32_t>(eeprom.size());
    p.eFlashMax = static_cast<int32_t>(bm::kFlashSize);
    p.eNoLockDev = true;  // this tool never asks for lock bits

    const std::vector<uint8_t> pack = bm::packwriter::Pack(p, flash, eeprom);
    std::ofstream out(opts["out"], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(pack.data()), static_cast<std::streamsize>(pack.size()));
    out.close();
    if (!out) {
      std::cerr << "brindlemark-packwriter: cannot write " << opts["out"] << '\n';
      return 1;
    }
    std::cout << opts["out"] << ": flash " << flash.size() << " bytes, EEPROM " << eeprom.size()
              << " bytes\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "brindlemark-packwriter: " << e.what() << '\n';
    return 1;
  }
}
