// Fuzz target: a project file loaded through the Load button, with small valid images beside it,
// so the key lookup, the value rules and the project branch all run on any text.
#include "FuzzSupport.h"
#include "platform/PortList.h"
#include "shell/core/HeadlessDisplay.h"
#include "shell/core/Main.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool images = [] {
    const std::string hex = ":0100000042BD\n:00000001FF\n";
    const std::string eep = ":020000001122CB\n:00000001FF\n";
    bm::fuzz::WriteScratch("p.hex", reinterpret_cast<const uint8_t*>(hex.data()), hex.size());
    bm::fuzz::WriteScratch("p.eep", reinterpret_cast<const uint8_t*>(eep.data()), eep.size());
    return true;
  }();
  (void)images;
  static bm::HeadlessDisplay display;
  static bm::fuzz::QuietDialogs dialogs;
  static bm::fuzz::NoEvents loop;
  static bm::PortList ports;
  static bm::Main main(display, dialogs, loop, ports);
  static bool escaped = false;
  main.UnhandledException = [](std::exception_ptr) { escaped = true; };

  dialogs.file = bm::fuzz::WriteScratch("p.ppro", data, size);
  escaped = false;
  main.Handle([] { main.FOpenBtn_Action(); });
  if (escaped || main.g.Modus != 1 || main.g.FBytesRead != 1 || main.g.EBytesRead != 2)
    __builtin_trap();  // the images beside the project always load, whatever the project says
  return 0;
}
