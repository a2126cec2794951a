#include "app/target-sim/SimOptions.h"

#include <cerrno>
#include <cstdlib>

namespace bm::targetsim {
namespace {

// A whole number in decimal, or hex with 0x; false on anything else or outside [lo, hi].
bool Number(const std::string& text, long lo, long hi, long& value, int base = 0) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, base);
  if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
  value = v;
  return true;
}

bool Milliseconds(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !(v >= 0) || v > 1e7) return false;
  value = v;
  return true;
}

// CMD:N:KIND[:MS], e.g. "E:2:noreply", "?:0:late:80", "D:1:wrong", "P:3:vanish".
bool ParseFault(const std::string& text, sim::Fault& fault) {
  std::vector<std::string> parts;
  size_t start = 0;
  // The command letter may itself be ':'-free punctuation such as '?'; it is always one byte.
  if (text.size() < 2 || text[1] != ':') return false;
  fault.command = text[0];
  start = 2;
  while (true) {
    const size_t colon = text.find(':', start);
    parts.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (parts.size() < 2 || parts.size() > 3) return false;
  long occurrence = 0;
  if (!Number(parts[0], 0, 1000000000, occurrence, 10)) return false;
  fault.occurrence = static_cast<int>(occurrence);
  const std::string& kind = parts[1];
  if (kind == "noreply")
    fault.kind = sim::FaultKind::NoReply;
  else if (kind == "wrong")
    fault.kind = sim::FaultKind::WrongReply;
  else if (kind == "late")
    fault.kind = sim::FaultKind::LateReply;
  else if (kind == "vanish")
    fault.kind = sim::FaultKind::Vanish;
  else if (kind == "short")
    fault.kind = sim::FaultKind::ShortReply;
  else if (kind == "stray-after")
    fault.kind = sim::FaultKind::StrayAfterReply;
  else if (kind == "stray-before")
    fault.kind = sim::FaultKind::StrayBeforeReply;
  else if (kind == "corrupt")
    fault.kind = sim::FaultKind::CorruptWrite;
  else
    return false;
  fault.lateMs = 0;
  fault.keepBytes = 1;
  if (parts.size() == 3) {
    if (fault.kind == sim::FaultKind::LateReply) return Milliseconds(parts[2], fault.lateMs);
    long keep = 0;
    if (fault.kind != sim::FaultKind::ShortReply || !Number(parts[2], 0, 255, keep, 10)) return false;
    fault.keepBytes = static_cast<int>(keep);
  } else if (fault.kind == sim::FaultKind::LateReply) {
    return false;  // a late reply needs its delay
  }
  return true;
}

bool ParseLoaderIds(const std::string& text, std::array<uint16_t, 4>& ids) {
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = text.find(',', start);
    if ((i < 3) == (comma == std::string::npos)) return false;  // exactly four values
    long v = 0;
    if (!Number(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), 0, 0xFFFF,
                v, 16))
      return false;
    ids[i] = static_cast<uint16_t>(v);
    start = comma + 1;
  }
  return true;
}

}  // namespace

std::string SimUsage() {
  return "Usage: brindlemark-target-sim [OPTION]...\n"
         "Serves a simulated bootloader target on a pseudo-terminal. The first line printed is\n"
         "the device path; open it at the loader's rate, 8 data bits, no parity, 2 stop bits.\n"
         "\n"
         "  --signature HEX       device signature, three bytes (default 1E950F)\n"
         "  --page-words N        page size in words, 1..255 (default 64)\n"
         "  --flash-words N       application section in words, reported by \"I\" (default 0x3800)\n"
         "  --boot-words N        boot section above it, never written (default 0x800)\n"
         "  --loader-ids A,B,C,D  four loader IDs in hex (default 0101,424D,0200,0002)\n"
         "  --eeprom-bytes N      EEPROM size (default 1024)\n"
         "  --baud N              rate the loader listens at; 0 = any (default 0)\n"
         "  --paced               replies take the line time (11 bits per byte at the host's rate)\n"
         "                        plus 4.5 ms per page erase or write\n"
         "  --adapter-latency MS  replies reach the host as through a USB-serial adapter: held in a\n"
         "                        62-byte buffer, sent when it is full or at the next tick of a\n"
         "                        timer ticking every MS milliseconds (fractions allowed) from the\n"
         "                        start; combines with --paced\n"
         "  --fault CMD:N:KIND[:V]  misbehave at the N-th CMD (0 = every one); KIND is noreply,\n"
         "                        wrong, late:MS, vanish, short[:BYTES] (the reply cut to BYTES,\n"
         "                        default 1), stray-after or stray-before (a stray byte 0x55 after\n"
         "                        the reply, or as soon as the command letter arrived), corrupt\n"
         "                        (\"P\" writes the page's first bit flipped); repeatable\n"
         "  --flash-in PATH       preload flash from a raw image\n"
         "  --eeprom-in PATH      preload EEPROM from a raw image\n"
         "  --flash-out PATH      write the whole flash, raw, on exit\n"
         "  --eeprom-out PATH     write the whole EEPROM, raw, on exit\n"
         "  --link PATH           also make a symlink to the device there\n"
         "  --exit-after-stop     exit once the loader received \"X\"\n"
         "  --trace               print every byte both ways on stderr\n"
         "  --help                this text\n"
         "  --version             the version and the licence\n"
         "\n"
         "Numbers may be given in hex with 0x. The tool exits on SIGTERM, SIGINT, or end of input or\n"
         "\"quit\" on a terminal or pipe as standard input. Opening the device again resets the\n"
         "board (a loader that left with \"X\" listens again), as the DTR edge of a first opening\n"
         "does; a second descriptor on a device that is already open leaves the board alone.\n";
}

namespace {

// Options that take a number, each with its range and the field it sets.
struct NumberOption {
  const char* name;
  long min, max;
  int base;  // as strtol takes it: 0 also reads "0x" and a leading 0
  void (*set)(sim::SimTargetConfig& c, long n);
};

constexpr NumberOption kNumberOptions[] = {
    {"--signature", 0, 0xFFFFFF, 16,
     [](sim::SimTargetConfig& c, long n) { c.signature = static_cast<uint32_t>(n); }},
    {"--page-words", 1, 255, 0, [](sim::SimTargetConfig& c, long n) { c.pageWords = static_cast<int>(n); }},
    {"--flash-words", 0, 0xFFFF, 0,
     [](sim::SimTargetConfig& c, long n) { c.flashWords = static_cast<int>(n); }},
    {"--boot-words", 0, 0x10000, 0,
     [](sim::SimTargetConfig& c, long n) { c.bootWords = static_cast<int>(n); }},
    {"--eeprom-bytes", 0, 0x10000, 0,
     [](sim::SimTargetConfig& c, long n) { c.eepromBytes = static_cast<int>(n); }},
    {"--baud", 0, 10000000, 0, [](sim::SimTargetConfig& c, long n) { c.baud = static_cast<int>(n); }},
};

bool IsFlag(const std::string& name) {
  return name == "--paced" || name == "--exit-after-stop" || name == "--trace";
}

void SetFlag(const std::string& name, SimOptions& options) {
  if (name == "--paced") options.config.paced = true;
  if (name == "--exit-after-stop") options.exitAfterStop = true;
  if (name == "--trace") options.trace = true;
}

// Applies option `name` with its `value`; false when the value is not valid for it. `known` is
// false for a name that takes no value or is no option at all.
bool SetValue(const std::string& name, const std::string& value, SimOptions& options, bool& known) {
  known = true;
  sim::SimTargetConfig& c = options.config;
  for (const NumberOption& o : kNumberOptions) {
    if (name != o.name) continue;
    long n = 0;
    if (!Number(value, o.min, o.max, n, o.base)) return false;
    o.set(c, n);
    return true;
  }
  if (name == "--loader-ids") return ParseLoaderIds(value, c.loaderIds);
  if (name == "--adapter-latency")
    return Milliseconds(value, options.adapterLatencyMs) && options.adapterLatencyMs > 0;
  if (name == "--fault") {
    sim::Fault fault;
    if (!ParseFault(value, fault)) return false;
    options.faults.push_back(fault);
    return true;
  }
  std::string* file = name == "--flash-in"     ? &options.flashIn
                      : name == "--eeprom-in"  ? &options.eepromIn
                      : name == "--flash-out"  ? &options.flashOut
                      : name == "--eeprom-out" ? &options.eepromOut
                      : name == "--link"       ? &options.link
                                               : nullptr;
  if (!file) {
    known = false;
    return false;
  }
  *file = value;
  return !value.empty();
}

}  // namespace

ParseResult ParseSimOptions(const std::vector<std::string>& args, const sim::SimTargetConfig& defaults,
                            SimOptions& options, std::string& error) {
  options = SimOptions{};
  options.config = defaults;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    if (name == "--help") return ParseResult::Help;
    if (name == "--version") return ParseResult::Version;
    if (IsFlag(name)) {
      if (hasValue) {
        error = name + " takes no value";
        return ParseResult::Error;
      }
      SetFlag(name, options);
      continue;
    }
    // Every other option takes a value: "--name=value" or the next argument.
    bool known = false;
    const bool valueFollows = !hasValue && i + 1 < args.size();
    if (!hasValue && valueFollows) value = args[i + 1];
    const bool valid = SetValue(name, value, options, known);
    if (!known) {
      error = "unknown option: " + args[i];
      return ParseResult::Error;
    }
    if (!hasValue && !valueFollows) {
      error = name + " needs a value";
      return ParseResult::Error;
    }
    if (!hasValue) ++i;
    if (!valid) {
      error = "invalid value for " + name + ": " + value;
      return ParseResult::Error;
    }
  }
  return ParseResult::Run;
}

}  // namespace bm::targetsim
