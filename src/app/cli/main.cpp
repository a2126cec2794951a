// brindlemark-cli: the headless front of the same logic the desktop program runs.
#include <QCoreApplication>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/Commands.h"

namespace {

constexpr const char* kUsage = R"(Usage: brindlemark-cli COMMAND [OPTIONS]

Commands:
  ports [--port DEVICE]... [--simulated-target]
      List the serial ports (index, name, description).
  load FILE [--json] [--flash-out PATH] [--eeprom-out PATH]
      Load a .hex, .eep, .ppro or .pac/.pack file as the Load button does and show the result.
  download FILE [--port DEVICE]... [--baud N] [--no-flash] [--no-eeprom] [--stop] [--force] [--trace]
      Load FILE, find the bootloader, identify the chip and write flash and EEPROM.
  erase FILE [--port DEVICE]... [--baud N] [--stop] [--force] [--trace]
      Load FILE, find the bootloader and erase the flash pages the image covers.

Options:
  --port DEVICE        also offer DEVICE (repeatable); with download/erase only these are searched.
                       "sim" is the simulated target.
  --simulated-target   offer the simulated target as port "sim".
  --baud N             the rate instead of the file's (any rate the port accepts).
  --no-flash, --no-eeprom  leave the flash or the EEPROM image out.
  --stop               tell the loader to leave ("X") after the run, so the new program starts.
  --force              send even though the load showed a message (never a damaged file).
  --trace              print every byte both ways.
  --help, --version

Exit codes of download and erase:
  0 done
  1 nothing loaded (a damaged file loads nothing), or the load showed a message (without --force)
  2 usage (also a --baud rate the port cannot use)
  3 target not found
  4 identification refused or failed
  5 a numbered communication failure during the run
  6 the target stopped answering before the run (no "KW" to "?")
  7 the flash image does not fit the target's flash (nothing written)
)";

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << kUsage;
    return args.empty() ? bm::cli::kExitUsage : 0;
  }
  if (args[0] == "--version") {
    std::cout << "brindlemark-cli " << BRINDLEMARK_VERSION_TEXT << '\n';
    return 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "ports") return bm::cli::Ports(args);
  if (command == "load") return bm::cli::Load(args);
  if (command == "download") return bm::cli::Download(args);
  if (command == "erase") return bm::cli::Erase(args);
  std::cerr << "Unknown command '" << command << "'. Try brindlemark-cli --help.\n";
  return bm::cli::kExitUsage;
}
