#include "app/cli/PlainLoadLine.h"

#include <string_view>

namespace bm::cli {
namespace {

// A word that cannot be mistaken for an option, a command or the end of options.
bool PlainWord(const std::string& arg) { return !arg.empty() && arg[0] != '-'; }

}  // namespace

std::optional<CommandLine> ParsePlainLoad(const std::vector<std::string>& args) {
  CommandLine line;
  line.command = Command::Load;
  bool command = false, file = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (PlainWord(arg)) {
      if (!command) {
        if (arg != "load") return std::nullopt;
        command = true;
      } else if (!file) {
        line.file = arg;
        file = true;
      } else {
        return std::nullopt;  // a second FILE: the parser says what is wrong
      }
      continue;
    }
    if (arg == "--json") {
      if (line.json) return std::nullopt;
      line.json = true;
      continue;
    }
    if (arg == "--simulated-target") {
      if (line.ports.simulatedTarget) return std::nullopt;
      line.ports.simulatedTarget = true;
      continue;
    }
    // The options with a value: "--NAME VALUE" or "--NAME=VALUE", each at most once (--port
    // repeats). --flash-out and --eeprom-out belong to load, so they may not come before it.
    std::string_view name = arg;
    std::optional<std::string> value;
    if (const size_t equals = arg.find('='); equals != std::string::npos) {
      name = std::string_view(arg).substr(0, equals);
      value = arg.substr(equals + 1);
    }
    const bool port = name == "--port";
    std::optional<std::string>* out = name == "--flash-out"    ? &line.flashOut
                                      : name == "--eeprom-out" ? &line.eepromOut
                                                               : nullptr;
    if (!port && (!out || !command || out->has_value())) return std::nullopt;
    if (!value) {
      if (i + 1 >= args.size() || !PlainWord(args[i + 1])) return std::nullopt;
      value = args[++i];
    }
    if (value->empty()) return std::nullopt;
    if (port)
      line.ports.devices.push_back(*value);
    else
      *out = *value;
  }
  if (!command || !file) return std::nullopt;
  return line;
}

}  // namespace bm::cli
