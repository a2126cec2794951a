#include "app/cli/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>

#include "app/cli/ExitCodes.h"

namespace bm::cli {
namespace {

struct OptionRow {
  const char* names;  // "port" or "h,help"
  const char* value;  // value name, or nullptr for a flag
  std::string description;
};

const std::vector<OptionRow> kGlobal = {
    {"P,port", "DEVICE",
     "Also offer DEVICE (repeatable). With download, erase and gang only these are searched. \"sim\" is the "
     "simulated target."},
    {"simulated-target", nullptr, "Offer the simulated target as port \"sim\"."},
    {"json", nullptr,
     "Machine-readable output: JSON lines on stdout (load: one object); human text stays on stderr."},
    {"h,help", nullptr, "Show this help."},
};

const OptionRow kReplyTimeout = {
    "reply-timeout", "MS",
    "Wait up to MS milliseconds for each reply instead of 50, plus the reply's line time (slow links: "
    "Bluetooth serial, network serial servers, USB hubs); BRINDLEMARK_REPLY_TIMEOUT says the same."};

const std::vector<OptionRow> kRun = {
    {"b,baud", "N",
     "The rate instead of the file's: " + std::to_string(kMinBaud) + " to " + std::to_string(kMaxBaud) +
         " baud, any the port accepts (each reply window grows with the line time, so slow rates work)."},
    {"stop", nullptr, "Tell the loader to leave (\"X\") after the run, so the new program starts."},
    {"force", nullptr, "Send even though the load showed a message (a damaged file loads nothing)."},
    {"v,trace", nullptr, "Print every byte both ways on stderr."},
    {"q,quiet", nullptr, "Errors only: no progress and no notes on stderr."},
    {"wait-after-open", "MS",
     "Wait MS milliseconds after opening a port before the first \"?\" (boards their adapter resets; "
     "a project's WaitAfterOpen= says the same)."},
    kReplyTimeout,
    {"connect-attempts", "N",
     "Send \"?\" up to N times per port, spread over one second, before it counts as silent (for boards "
     "their adapter resets when the port opens)."},
};
const std::vector<OptionRow> kImages = {
    {"no-flash", nullptr, "Leave the flash image out."},
    {"no-eeprom", nullptr, "Leave the EEPROM image out."},
    {"verify", nullptr,
     "Check the flash after writing with the loader's CRC (our loader: one exchange); a loader that "
     "cannot is refused before anything is written."},
};

// The production record (docs/records.md).
const std::vector<OptionRow> kRecord = {
    {"record", "DB",
     "Record each board's attempt in DB: a SQLite file, or a postgresql:// URI that several stations "
     "share (BRINDLEMARK_RECORD says the same)."},
    {"station-name", "NAME", "This station's name in the record (beside the host name)."},
};
const std::vector<OptionRow> kSerial = {
    {"serial-number", "FORMAT@eeprom:ADDR",
     "Write the next number of --sequence into each board's EEPROM at ADDR: as text (BM-{:06d}) or as "
     "u32le, u32be; needs --record."},
    {"sequence", "NAME", "The sequence the serial numbers come from (kept in the record)."},
    {"sequence-start", "N", "The first number of a sequence the record does not hold yet."},
};

// The names of an option ("b,baud": "b" and "baud"); the last is its long name.
std::vector<std::string> NamesOf(const OptionRow& o) {
  std::vector<std::string> names;
  const std::string all = o.names;
  size_t start = 0;
  for (;;) {
    const size_t comma = all.find(',', start);
    names.push_back(all.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return names;
    start = comma + 1;
  }
}

struct CommandRow {
  Command command;
  const char* name;
  const char* file;  // the positional argument, or nullptr
  const char* summary;
  std::vector<OptionRow> options;
};

std::vector<OptionRow> Join(std::initializer_list<std::vector<OptionRow>> tables) {
  std::vector<OptionRow> all;
  for (const auto& table : tables) all.insert(all.end(), table.begin(), table.end());
  return all;
}

const std::vector<CommandRow>& Commands() {
  static const std::vector<CommandRow> commands = {
      {Command::Ports,
       "ports",
       nullptr,
       "List the serial ports (index, name, description).",
       {{"probe", nullptr,
         "Open each port and ask \"?\"; say which answer and why the others do not. Opening a "
         "port may reset the board behind it."},
        kReplyTimeout}},
      {Command::Load,
       "load",
       "FILE",
       "Load FILE as the Load button does and show the result.",
       {{"flash-out", "PATH", "Write the loaded flash image, raw, to PATH."},
        {"eeprom-out", "PATH", "Write the loaded EEPROM image, raw, to PATH."}}},
      {Command::Download, "download", "FILE",
       "Load FILE, find the bootloader, identify the chip and write flash and EEPROM.",
       Join({kRun, kImages, kRecord, kSerial})},
      {Command::Erase, "erase", "FILE",
       "Load FILE, find the bootloader and erase the flash pages the image covers.", Join({kRun, kRecord})},
      {Command::Gang, "gang", "FILE",
       "Flash FILE into every listed port at the same time, one child process per board.",
       Join({kRun,
             kImages,
             kRecord,
             kSerial,
             {{"all-ports", nullptr,
               "Every serial port the system lists (and --port devices); a port that does "
               "not answer \"?\" is skipped, not failed."},
              {"timeout", "S", "Give up on a board after S seconds (it is stopped; the others go on)."},
              {"log-dir", "DIR", "Keep each board's output and byte trace in DIR."}}})},
      {Command::Station, "station", "FILE",
       "Flash FILE into each board the moment its port appears, for hours: a production bench.",
       Join({kRun,
             kImages,
             kRecord,
             kSerial,
             {{"watch", "DIR",
               "Boards are the device entries that appear in DIR (/dev/serial/by-id names the adapter; "
               "not on Windows); "
               "by default the system's serial ports as they come and go."},
              {"settle", "MS", "Wait MS after a port appears before opening it (default 300)."},
              {"max-boards", "N", "End after N boards."},
              {"log-dir", "DIR",
               "Keep each board's output and byte trace in DIR, named by time and device."}}})},
      {Command::Loaders,
       "loaders",
       nullptr,
       "List the loader images that come with the program (chip, clock, rate, size, path), for "
       "installing on a blank chip.",
       {}},
      {Command::Records,
       "records",
       "DB",
       "Show what was flashed, from the record DB (a SQLite file or a postgresql:// URI).",
       {{"serial", "N", "Boards with this serial number (as written, or its number)."},
        {"sha256", "H", "Attempts that loaded or wrote this SHA-256 (the file, the flash or the EEPROM)."},
        {"since", "T", "Attempts started at or after T (UTC: 2024-05-01, 2024-05-01T12:00)."},
        {"outcome", "O", "Attempts with this outcome (done, failed, ..., or unfinished)."},
        {"csv", nullptr, "Comma-separated values with a header line, for a spreadsheet."}}},
      {Command::Help, "help", "COMMAND", "Show the help of COMMAND.", {}},
  };
  return commands;
}

const CommandRow* Find(const std::string& name) {
  for (const CommandRow& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

const CommandRow& Row(Command command) {
  for (const CommandRow& c : Commands())
    if (c.command == command) return c;
  return Commands().front();
}

constexpr const char* kFileKinds = R"(Files:
  .hex        Intel HEX flash image (records 00-05)
  .eep        Intel HEX EEPROM image
  .ppro       project: DeviceID, CPUname, BootLoaderID, EEpromMax, BaudRate; its images are the
              .hex and .eep of the same name beside it (a missing .eep: no EEPROM image)
  .pac .pack  pack file: parameters, flash and EEPROM image in one
)";

// The exit statuses with the outcome names --json prints for them, from the one outcome table.
std::string ExitCodeLines() {
  std::string text = "Exit codes (and the outcome --json names):\n";
  for (const OutcomeRow& row : kOutcomes) {
    if (row.boardOnly) continue;
    std::string code = std::to_string(row.exitStatus);
    code.resize(5, ' ');
    text += "  " + code + row.name + ": " + row.meaning + "\n";
  }
  return text;
}

// "-b, --baud": each name as it is typed.
std::string Spelled(const OptionRow& o) {
  std::string names;
  for (const std::string& name : NamesOf(o)) {
    if (!names.empty()) names += ", ";
    names += (name.size() == 1 ? "-" : "--") + name;
  }
  return names;
}

std::string OptionLines(const std::vector<OptionRow>& options) {
  std::string text;
  for (const OptionRow& o : options) {
    std::string names = Spelled(o);
    if (o.value) names += std::string(" ") + o.value;
    text += "  " + names;
    text += names.size() < 22 ? std::string(22 - names.size(), ' ') : "\n" + std::string(24, ' ');
    text += o.description + "\n";
  }
  return text;
}

std::string Synopsis(const CommandRow& c) {
  std::string text = std::string("brindlemark-cli ") + c.name + " [OPTIONS]";
  if (c.file) text += std::string(" ") + (c.command == Command::Help ? "[COMMAND]" : c.file);
  return text;
}

// Every option of every command, and the global ones: what a line means before its command is
// known.
std::vector<OptionRow> AllOptions() {
  std::vector<OptionRow> all = kGlobal;
  for (const CommandRow& c : Commands())
    for (const OptionRow& o : c.options) {
      const std::string name = NamesOf(o).back();
      const bool known = std::any_of(all.begin(), all.end(),
                                     [&name](const OptionRow& a) { return NamesOf(a).back() == name; });
      if (!known) all.push_back(o);
    }
  return all;
}

// The command line as CLI11 reads it for the given options: the values of each option in the
// order given, the words that are neither options nor values, and the options it does not know.
// Each value is the bytes typed: a file name that is not valid UTF-8 stays as it was.
class Reader {
 public:
  explicit Reader(const std::vector<OptionRow>& options) {
    app_.set_help_flag();  // our own -h, --help: the help comes from our tables
    app_.allow_extras();
    app_.allow_windows_style_options(false);  // "/dev/ttyUSB0" is a word on every system
    for (const OptionRow& o : options) {
      std::string names;
      for (const std::string& name : NamesOf(o)) names += (names.empty() ? "" : ",") + Typed(name);
      CLI::Option* option = nullptr;
      if (o.value)
        option = app_.add_option(names)->allow_extra_args(false)->multi_option_policy(
            CLI::MultiOptionPolicy::TakeAll);
      else
        option = app_.add_flag(names)->disable_flag_override();
      options_[NamesOf(o).back()] = option;
    }
    app_.add_option("words", words_);
  }

  // "-b" or "--baud", as the name is typed.
  static std::string Typed(const std::string& name) { return (name.size() == 1 ? "-" : "--") + name; }

  // Reads `args`; what CLI11 could not read comes back as its words.
  std::optional<std::string> Read(std::vector<std::string> args) {
    std::reverse(args.begin(), args.end());  // CLI11 takes the arguments from the back
    try {
      app_.parse(args);
    } catch (const CLI::ParseError& e) {
      return std::string(e.what());
    }
    return std::nullopt;
  }

  bool Has(const std::string& name) const {
    const auto it = options_.find(name);
    return it != options_.end() && it->second->count() > 0;
  }
  // The last value given (an option given twice takes the later one).
  std::string Value(const std::string& name) const { return Values(name).back(); }
  std::vector<std::string> Values(const std::string& name) const {
    const auto it = options_.find(name);
    return it == options_.end() ? std::vector<std::string>{} : it->second->results();
  }
  const std::vector<std::string>& Words() const { return words_; }

  // The options CLI11 did not know, as typed ("-x" for the unknown letter of a cluster "-qx").
  std::vector<std::string> Unknown() const {
    std::vector<std::string> unknown;
    for (const std::string& extra : app_.remaining())
      if (extra != "--") unknown.push_back(extra);
    return unknown;
  }

 private:
  CLI::App app_{"", "brindlemark-cli"};
  std::map<std::string, CLI::Option*> options_;  // by long name
  std::vector<std::string> words_;
};

// The one line for options nobody knows, in the words the tool has always used. A long option
// typed with one dash reads as a cluster of letters; its line says what was meant.
std::string UnknownOptions(const std::vector<std::string>& unknown) {
  const std::vector<OptionRow> all = AllOptions();
  std::vector<std::string> names;
  for (const std::string& typed : unknown) {
    std::string name, value;
    if (CLI::detail::split_long(typed, name, value)) {
      names.push_back(name);
      continue;
    }
    const std::string word = typed.substr(1, typed.find('=') - 1);
    const bool isLong = std::any_of(all.begin(), all.end(), [&word](const OptionRow& o) {
      return word.size() > 1 && NamesOf(o).back() == word;
    });
    if (isLong && unknown.size() == 1)
      return "Unknown option '" + word + "'; long options take two dashes: --" + word;
    names.push_back(typed.size() > 1 ? typed.substr(1, 1) : typed);
  }
  if (names.size() == 1) return "Unknown option '" + names.front() + "'.";
  std::string text = "Unknown options: ";
  for (size_t i = 0; i < names.size(); ++i) text += (i ? ", " : "") + names[i];
  return text + ".";
}

enum class Kind { Unknown, Flag, Value };

// What `name` is ("b" or "baud") among all options.
Kind KindOf(const std::string& name, bool shortName) {
  for (const OptionRow& o : AllOptions())
    for (const std::string& n : NamesOf(o))
      if (n == name && (n.size() == 1) == shortName) return o.value ? Kind::Value : Kind::Flag;
  return Kind::Unknown;
}

// Whether CLI11 reads `arg` as an option (a negative number is a value, "--" ends the options).
bool LooksLikeOption(const std::string& arg) {
  std::string name, rest;
  if (arg == "--" || CLI::detail::split_long(arg, name, rest)) return true;
  return CLI::detail::split_short(arg, name, rest) && !std::isdigit(static_cast<unsigned char>(name[0]));
}

// What CLI11 cannot say before the command is known, found the way CLI11 splits the line: the
// words (the first is the command) and the first option that lacks its value. CLI11 would take
// the next argument as the value whatever it is, so `--port --json` would name a port "--json".
struct Walk {
  std::vector<std::string> words;
  std::optional<std::string> problem;
};

Walk WalkArguments(const std::vector<std::string>& args) {
  Walk walk;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      walk.words.insert(walk.words.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    std::string name, rest, needsNext;  // needsNext: the option, as typed, whose value is the next argument
    if (CLI::detail::split_long(arg, name, rest)) {
      const Kind kind = KindOf(name, false);
      if (kind == Kind::Value && rest.empty()) needsNext = "--" + name;
      if (kind == Kind::Flag && arg.find('=') != std::string::npos && !walk.problem)
        walk.problem = "Unexpected value after '--" + name + "'.";
    } else if (LooksLikeOption(arg)) {
      CLI::detail::split_short(arg, name, rest);
      // A cluster: flags, and last an option whose value is the rest or the next argument.
      for (Kind kind = KindOf(name, true); kind != Kind::Unknown; kind = KindOf(name, true)) {
        if (kind == Kind::Value) {
          if (rest.empty()) needsNext = "-" + name;
          break;
        }
        if (rest.empty()) break;
        name = rest.substr(0, 1);
        rest.erase(0, 1);
      }
    } else {
      walk.words.push_back(arg);
      continue;
    }
    if (needsNext.empty()) continue;
    if (i + 1 == args.size() || LooksLikeOption(args[i + 1])) {
      if (!walk.problem) walk.problem = needsNext + " needs a value";
      continue;
    }
    ++i;
  }
  return walk;
}

// A word as the shell takes it back: quoted when it holds anything but the harmless characters.
std::string ShellWord(const std::string& word) {
  const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string("_./:=@%+,-").find(c) != std::string::npos;
  });
  if (plain) return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// avrdude's command line (-p CHIP -c PROGRAMMER -P PORT -b RATE -U flash:w:FILE:i), read with
// avrdude's options: our command for the same job, or none when the line is not avrdude's. The
// file is that of the flash write (else of the EEPROM write); "-U FILE" alone writes the flash.
std::optional<std::string> AvrdudeEquivalent(const std::vector<std::string>& args) {
  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  app.allow_windows_style_options(false);
  std::vector<std::string> chip, programmer, memory, port, baud, words;
  const auto policy = CLI::MultiOptionPolicy::TakeAll;
  app.add_option("-p", chip)->allow_extra_args(false)->multi_option_policy(policy);
  app.add_option("-c", programmer)->allow_extra_args(false)->multi_option_policy(policy);
  app.add_option("-U", memory)->allow_extra_args(false)->multi_option_policy(policy);
  app.add_option("-P", port)->allow_extra_args(false)->multi_option_policy(policy);
  app.add_option("-b", baud)->allow_extra_args(false)->multi_option_policy(policy);
  // Its other options with a value (bit clock, configuration, exit code, delay, log file, extended
  // parameters, terminal commands), so that their values are not taken for words.
  for (const char* name : {"-B", "-C", "-E", "-i", "-l", "-x", "-T"})
    app.add_option(name)->allow_extra_args(false)->multi_option_policy(policy);
  app.add_option("words", words);
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError&) {
    return std::nullopt;
  }
  if (chip.empty() && programmer.empty() && memory.empty()) return std::nullopt;

  std::string flash, eeprom;
  for (const std::string& op : memory) {
    // MEMORY:OPERATION:FILE[:FORMAT]; the file may hold colons itself (C:\fw.hex).
    const size_t first = op.find(':');
    if (first == std::string::npos) {
      if (flash.empty()) flash = op;
      continue;
    }
    const size_t second = op.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string kind = op.substr(0, first), operation = op.substr(first + 1, second - first - 1);
    if (operation != "w" || (kind != "flash" && kind != "eeprom")) continue;  // a read or a check
    std::string file = op.substr(second + 1);
    if (file.size() > 2 && file[file.size() - 2] == ':') file.resize(file.size() - 2);  // ":i", ":r", ...
    std::string& slot = kind == "flash" ? flash : eeprom;
    if (slot.empty()) slot = file;
  }
  const std::string file = !flash.empty() ? flash : eeprom;
  std::string ours = "brindlemark-cli download " + (file.empty() ? std::string("FILE") : ShellWord(file));
  if (!port.empty()) ours += " -P " + ShellWord(port.back());
  if (!baud.empty()) ours += " -b " + ShellWord(baud.back());
  return "avrdude's -p, -c and -U are not needed here (the loader names the chip); the same job: " + ours;
}

ParsedCommandLine Fail(const std::string& where, const std::string& what, bool json) {
  ParsedCommandLine parsed;
  parsed.text = where + ": " + what;
  parsed.exitCode = kExitUsage;
  parsed.wantsJson = json;
  return parsed;
}

// A whole number, or none when `text` is not one (or is out of int's range).
std::optional<int> IntegerFrom(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
    return std::nullopt;
  return static_cast<int>(value);
}

// A reply window in milliseconds, or none when `text` is not one.
std::optional<int> ReplyTimeoutFrom(const std::string& text) {
  const std::optional<int> ms = IntegerFrom(text);
  if (!ms || *ms < kMinReplyTimeoutMs || *ms > kMaxReplyWindowMs) return std::nullopt;
  return ms;
}

std::string ReplyTimeoutRange() {
  return "milliseconds from " + std::to_string(kMinReplyTimeoutMs) + " to " +
         std::to_string(kMaxReplyWindowMs);
}

}  // namespace

const char* CommandName(Command command) { return Row(command).name; }

std::string HelpText(std::optional<Command> command) {
  if (command && *command != Command::Help) {
    const CommandRow& c = Row(*command);
    return "Usage: " + Synopsis(c) + "\n" + c.summary + "\n\nOptions:\n" + OptionLines(c.options) +
           "\nGlobal options (before or after the command):\n" + OptionLines(kGlobal) +
           (c.file && c.command != Command::Help ? "\n" + std::string(kFileKinds) : "") + "\n" +
           ExitCodeLines();
  }
  std::string text =
      "Usage: brindlemark-cli [GLOBAL OPTIONS] COMMAND [OPTIONS] [FILE]\n"
      "Writes firmware into AVR microcontrollers through a bootloader listening on a serial line.\n\n"
      "Commands:\n";
  for (const CommandRow& c : Commands()) {
    text += "  " + Synopsis(c) + "\n      " + c.summary + "\n";
    for (const OptionRow& o : c.options)
      text += "      " + Spelled(o) + (o.value ? std::string(" ") + o.value : "") + "\n";
  }
  text += "\nGlobal options (before or after the command):\n" + OptionLines(kGlobal) +
          "  --version             Show the version and the license.\n\n" + kFileKinds + "\n" +
          ExitCodeLines() +
          "\n'brindlemark-cli help COMMAND' or 'brindlemark-cli COMMAND --help' describes one command.\n";
  return text;
}

namespace {

// The options of the production record and of `records`.
std::optional<ParsedCommandLine> ReadRecordOptions(const Reader& read, const std::string& where, bool json,
                                                   CommandLine& line) {
  RecordOptions& r = line.record;
  if (read.Has("record")) r.database = read.Value("record");
  if (r.database && r.database->empty())
    return Fail(where, "--record needs a file or a postgresql:// URI", json);
  if (read.Has("station-name")) r.stationName = read.Value("station-name");
  if (read.Has("serial-number")) r.serialNumber = read.Value("serial-number");
  if (read.Has("sequence")) r.sequence = read.Value("sequence");
  if (read.Has("sequence-start")) {
    const std::string text = read.Value("sequence-start");
    char* end = nullptr;
    errno = 0;
    const long long start = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || start < 0)
      return Fail(where, "--sequence-start needs a whole number from 0, not '" + text + "'", json);
    r.sequenceStart = start;
  }
  if (r.serialNumber) {
    if (!r.database)
      return Fail(where, "--serial-number needs --record DB: the numbers are taken from the record", json);
    if (!r.sequence)
      return Fail(where, "--serial-number needs --sequence NAME: the sequence to take from", json);
    if (line.noEeprom)
      return Fail(where, "--serial-number writes into the EEPROM: it cannot go with --no-eeprom", json);
  } else if (r.sequence || r.sequenceStart) {
    return Fail(where,
                std::string(r.sequence ? "--sequence" : "--sequence-start") + " goes with --serial-number",
                json);
  }
  if (read.Has("serial")) r.serial = read.Value("serial");
  if (read.Has("sha256")) r.sha256 = read.Value("sha256");
  if (read.Has("since")) r.since = read.Value("since");
  if (read.Has("outcome")) {
    r.outcome = read.Value("outcome");
    if (*r.outcome != "unfinished" && !OutcomeNamed(*r.outcome))
      return Fail(
          where,
          "--outcome needs an outcome's name (done, failed, ..., unfinished), not '" + *r.outcome + "'",
          json);
  }
  r.csv = read.Has("csv");
  if (r.csv && line.json) return Fail(where, "--csv and --json: choose one", json);
  return std::nullopt;
}

// The command's own options, once CLI11 has read the line.
std::optional<ParsedCommandLine> ReadCommandOptions(const Reader& read, const CommandRow& row,
                                                    const std::string& where, bool json, CommandLine& line) {
  if (read.Has("flash-out")) line.flashOut = read.Value("flash-out");
  if (read.Has("eeprom-out")) line.eepromOut = read.Value("eeprom-out");
  if (read.Has("baud")) {
    line.baud = IntegerFrom(read.Value("baud"));
    if (!line.baud) return Fail(where, "--baud needs a rate in baud, not '" + read.Value("baud") + "'", json);
    if (*line.baud < kMinBaud)
      return Fail(where,
                  "--baud " + std::to_string(*line.baud) + " is not a usable rate (the slowest is " +
                      std::to_string(kMinBaud) + ")",
                  json);
    if (*line.baud > kMaxBaud)
      return Fail(where,
                  "--baud " + std::to_string(*line.baud) + " is not a usable rate (the fastest is " +
                      std::to_string(kMaxBaud) + ")",
                  json);
  }
  line.noFlash = read.Has("no-flash");
  line.noEeprom = read.Has("no-eeprom");
  if (line.noFlash && line.noEeprom)
    return Fail(where, "--no-flash and --no-eeprom leave nothing to write", json);
  line.stop = read.Has("stop");
  line.force = read.Has("force");
  line.trace = read.Has("trace");
  line.quiet = read.Has("quiet");
  line.verify = read.Has("verify");
  if (read.Has("wait-after-open")) {
    line.waitAfterOpenMs = IntegerFrom(read.Value("wait-after-open"));
    if (!line.waitAfterOpenMs || *line.waitAfterOpenMs < 0 || *line.waitAfterOpenMs > 10000)
      return Fail(
          where,
          "--wait-after-open needs milliseconds from 0 to 10000, not '" + read.Value("wait-after-open") + "'",
          json);
  }
  if (read.Has("reply-timeout")) {
    const std::string text = read.Value("reply-timeout");
    const std::optional<int> ms = ReplyTimeoutFrom(text);
    if (!ms)
      return Fail(where, "--reply-timeout needs " + ReplyTimeoutRange() + ", not '" + text + "'", json);
    line.replyTimeoutMs = *ms;
  }
  if (read.Has("connect-attempts")) {
    const std::optional<int> attempts = IntegerFrom(read.Value("connect-attempts"));
    if (!attempts || *attempts < 1 || *attempts > 100)
      return Fail(
          where,
          "--connect-attempts needs a number from 1 to 100, not '" + read.Value("connect-attempts") + "'",
          json);
    line.connectAttempts = *attempts;
  }
  line.probe = read.Has("probe");
  if (read.Has("timeout")) {
    const std::string text = read.Value("timeout");
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(seconds > 0) || seconds == HUGE_VAL)
      return Fail(where, "--timeout needs a positive number of seconds, not '" + text + "'", json);
    line.timeoutSeconds = seconds;
  }
  if (read.Has("log-dir")) line.logDir = read.Value("log-dir");
  if (read.Has("watch")) line.watchDir = read.Value("watch");
  if (read.Has("settle")) {
    const std::optional<int> ms = IntegerFrom(read.Value("settle"));
    if (!ms || *ms < 0 || *ms > 60000)
      return Fail(where, "--settle needs milliseconds from 0 to 60000, not '" + read.Value("settle") + "'",
                  json);
    line.settleMs = *ms;
  }
  if (read.Has("max-boards")) {
    line.maxBoards = IntegerFrom(read.Value("max-boards"));
    if (!line.maxBoards || *line.maxBoards < 1)
      return Fail(where, "--max-boards needs a positive number, not '" + read.Value("max-boards") + "'",
                  json);
  }
  if (auto failed = ReadRecordOptions(read, where, json, line)) return failed;
  if (row.command == Command::Gang && !line.allPorts && line.ports.devices.empty())
    return Fail(where, "name the boards' ports with --port DEVICE (repeatable) or use --all-ports", json);
  return std::nullopt;
}

// The first usage error of a line that names no command.
std::string ErrorWithoutCommand(const std::vector<std::string>& args) {
  Reader read(AllOptions());
  if (const std::optional<std::string> error = read.Read(args)) return *error;
  if (!read.Unknown().empty()) return UnknownOptions(read.Unknown());
  return "a COMMAND is missing (ports, load, download, erase, gang, station, loaders, records or help; "
         "--help "
         "describes them)";
}

std::optional<int> BaudFromEnvironment() {
  const char* text = std::getenv("BRINDLEMARK_BAUD");
  if (!text || !*text) return std::nullopt;
  const std::optional<int> baud = IntegerFrom(text);
  if (!baud || *baud < kMinBaud || *baud > kMaxBaud) return -1;
  return baud;
}

}  // namespace

bool AsksForVersion(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--") return false;
    if (a == "--version") return true;
  }
  return false;
}

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
  const Walk walk = WalkArguments(args);
  const CommandRow* row = walk.words.empty() ? nullptr : Find(walk.words.front());
  const std::string where = row ? std::string("brindlemark-cli ") + row->name : "brindlemark-cli";
  if (walk.problem) return Fail(where, *walk.problem, json);
  if (!row) {
    const bool wantsHelp = std::find(args.begin(), args.end(), "--help") != args.end() ||
                           std::find(args.begin(), args.end(), "-h") != args.end();
    if (wantsHelp) return {std::nullopt, HelpText(), kExitDone, json};
    if (const std::optional<std::string> ours = AvrdudeEquivalent(args)) return Fail(where, *ours, json);
    if (walk.words.empty()) return Fail(where, ErrorWithoutCommand(args), json);
    return Fail(where, "unknown command '" + walk.words.front() + "'", json);
  }

  Reader read(Join({kGlobal, row->options}));
  if (const std::optional<std::string> error = read.Read(args)) return Fail(where, *error, json);
  if (!read.Unknown().empty()) return Fail(where, UnknownOptions(read.Unknown()), json);

  CommandLine line;
  line.command = row->command;
  line.json = read.Has("json");
  line.help = read.Has("help");
  line.ports.devices = read.Values("port");
  line.ports.simulatedTarget = read.Has("simulated-target");
  line.allPorts = read.Has("all-ports");
  if (line.help) return {std::nullopt, HelpText(row->command), kExitDone, json};

  const char* envPort = std::getenv("BRINDLEMARK_PORT");
  const bool runs = row->command == Command::Download || row->command == Command::Erase ||
                    row->command == Command::Gang || row->command == Command::Station;
  if (runs && row->command != Command::Station && !line.allPorts && line.ports.devices.empty() && envPort &&
      *envPort)
    line.ports.devices.push_back(envPort);
  if (runs) {
    line.defaultBaud = BaudFromEnvironment();
    if (line.defaultBaud == -1)
      return Fail(where,
                  std::string("BRINDLEMARK_BAUD='") + std::getenv("BRINDLEMARK_BAUD") +
                      "' is not a usable rate (a number from " + std::to_string(kMinBaud) + ")",
                  json);
  }
  if (const char* record = std::getenv("BRINDLEMARK_RECORD"); runs && record && *record)
    line.record.database = record;  // --record, read below, wins
  if (runs || row->command == Command::Ports) {
    if (const char* text = std::getenv("BRINDLEMARK_REPLY_TIMEOUT"); text && *text) {
      const std::optional<int> ms = ReplyTimeoutFrom(text);
      if (!ms)
        return Fail(where,
                    std::string("BRINDLEMARK_REPLY_TIMEOUT='") + text + "' is not " + ReplyTimeoutRange(),
                    json);
      line.replyTimeoutMs = *ms;
    }
  }

  std::vector<std::string> positional = read.Words();
  if (!positional.empty()) positional.erase(positional.begin());  // the command
  if (row->command == Command::Help) {
    if (positional.size() > 1) return Fail(where, "one COMMAND at most", json);
    if (positional.empty()) return {std::nullopt, HelpText(), kExitDone, json};
    const CommandRow* topic = Find(positional.front());
    if (!topic) return Fail(where, "unknown command '" + positional.front() + "'", json);
    return {std::nullopt, HelpText(topic->command), kExitDone, json};
  }
  if (row->file) {
    if (positional.empty()) return Fail(where, std::string(row->file) + " is missing", json);
    line.file = positional.front();
    positional.erase(positional.begin());
  }
  if (!positional.empty()) return Fail(where, "unexpected argument '" + positional.front() + "'", json);
  if (auto failed = ReadCommandOptions(read, *row, where, json, line)) return *failed;
  return {line, "", kExitDone, json};
}

std::vector<std::string> ChildArguments(const CommandLine& gang, const std::string& device) {
  std::vector<std::string> args{"download", gang.file, "--port", device, "--json"};
  if (gang.baud) args.insert(args.end(), {"--baud", std::to_string(*gang.baud)});
  if (gang.stop) args.push_back("--stop");
  if (gang.noFlash) args.push_back("--no-flash");
  if (gang.noEeprom) args.push_back("--no-eeprom");
  if (gang.force) args.push_back("--force");
  if (gang.trace || gang.logDir) args.push_back("--trace");
  if (gang.quiet) args.push_back("--quiet");
  if (gang.verify) args.push_back("--verify");
  if (gang.waitAfterOpenMs)
    args.insert(args.end(), {"--wait-after-open", std::to_string(*gang.waitAfterOpenMs)});
  if (gang.replyTimeoutMs != kDefaultReplyTimeoutMs)
    args.insert(args.end(), {"--reply-timeout", std::to_string(gang.replyTimeoutMs)});
  if (gang.connectAttempts > 1)
    args.insert(args.end(), {"--connect-attempts", std::to_string(gang.connectAttempts)});
  // The board's child records it; the parent records none.
  const RecordOptions& r = gang.record;
  if (r.database) args.insert(args.end(), {"--record", *r.database});
  if (r.stationName) args.insert(args.end(), {"--station-name", *r.stationName});
  if (r.serialNumber) args.insert(args.end(), {"--serial-number", *r.serialNumber});
  if (r.sequence) args.insert(args.end(), {"--sequence", *r.sequence});
  if (r.sequenceStart) args.insert(args.end(), {"--sequence-start", std::to_string(*r.sequenceStart)});
  return args;
}

}  // namespace bm::cli
