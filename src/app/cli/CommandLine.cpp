#include "app/cli/CommandLine.h"

#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <cstdlib>

#include "app/cli/ExitCodes.h"

namespace bm::cli {
namespace {

struct OptionSpec {
  const char* names;  // "port" or "h,help"
  const char* value;  // value name, or nullptr for a flag
  const char* description;
};

const OptionSpec kGlobal[] = {
    {"P,port", "DEVICE",
     "Also offer DEVICE (repeatable). With download, erase and gang only these are searched. \"sim\" is the "
     "simulated target."},
    {"simulated-target", nullptr, "Offer the simulated target as port \"sim\"."},
    {"json", nullptr,
     "Machine-readable output: JSON lines on stdout (load: one object); human text stays on stderr."},
    {"h,help", nullptr, "Show this help."},
};

const OptionSpec kReplyTimeout = {
    "reply-timeout", "MS",
    "Wait up to MS milliseconds for each reply instead of 50, plus the reply's line time (slow links: "
    "Bluetooth serial, network serial servers, USB hubs); BRINDLEMARK_REPLY_TIMEOUT says the same."};

const OptionSpec kRun[] = {
    {"b,baud", "N", "The rate instead of the file's (any rate from 300 that the port accepts)."},
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
const OptionSpec kImages[] = {
    {"no-flash", nullptr, "Leave the flash image out."},
    {"no-eeprom", nullptr, "Leave the EEPROM image out."},
    {"verify", nullptr,
     "Check the flash after writing with the loader's CRC (our loader: one exchange); a loader that "
     "cannot is refused before anything is written."},
};

// The names of an option ("b,baud": "b" and "baud"); the last is its long name.
std::vector<std::string> NamesOf(const OptionSpec& o) {
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

struct CommandSpec {
  Command command;
  const char* name;
  const char* file;  // the positional argument, or nullptr
  const char* summary;
  std::vector<OptionSpec> options;
};

std::vector<OptionSpec> Join(std::initializer_list<std::vector<OptionSpec>> parts) {
  std::vector<OptionSpec> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> commands = {
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
       Join({std::vector<OptionSpec>(std::begin(kRun), std::end(kRun)),
             std::vector<OptionSpec>(std::begin(kImages), std::end(kImages))})},
      {Command::Erase, "erase", "FILE",
       "Load FILE, find the bootloader and erase the flash pages the image covers.",
       std::vector<OptionSpec>(std::begin(kRun), std::end(kRun))},
      {Command::Gang, "gang", "FILE",
       "Flash FILE into every listed port at the same time, one child process per board.",
       Join({std::vector<OptionSpec>(std::begin(kRun), std::end(kRun)),
             std::vector<OptionSpec>(std::begin(kImages), std::end(kImages)),
             {{"all-ports", nullptr,
               "Every serial port the system lists (and --port devices); a port that does "
               "not answer \"?\" is skipped, not failed."},
              {"timeout", "S", "Give up on a board after S seconds (it is stopped; the others go on)."},
              {"log-dir", "DIR", "Keep each board's output and byte trace in DIR."}}})},
      {Command::Station, "station", "FILE",
       "Flash FILE into each board the moment its port appears, for hours: a production bench.",
       Join({std::vector<OptionSpec>(std::begin(kRun), std::end(kRun)),
             std::vector<OptionSpec>(std::begin(kImages), std::end(kImages)),
             {{"watch", "DIR",
               "Boards are the device entries that appear in DIR (/dev/serial/by-id names the adapter); "
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
      {Command::Help, "help", "COMMAND", "Show the help of COMMAND.", {}},
  };
  return commands;
}

const CommandSpec* Find(const std::string& name) {
  for (const CommandSpec& c : Commands())
    if (name == c.name) return &c;
  return nullptr;
}

const CommandSpec& Spec(Command command) {
  for (const CommandSpec& c : Commands())
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
std::string Spelled(const OptionSpec& o) {
  std::string names;
  for (const std::string& name : NamesOf(o)) {
    if (!names.empty()) names += ", ";
    names += (name.size() == 1 ? "-" : "--") + name;
  }
  return names;
}

std::string OptionLines(const std::vector<OptionSpec>& options) {
  std::string text;
  for (const OptionSpec& o : options) {
    std::string names = Spelled(o);
    if (o.value) names += std::string(" ") + o.value;
    text += "  " + names;
    text += names.size() < 22 ? std::string(22 - names.size(), ' ') : "\n" + std::string(24, ' ');
    text += std::string(o.description) + "\n";
  }
  return text;
}

std::string Synopsis(const CommandSpec& c) {
  std::string text = std::string("brindlemark-cli ") + c.name + " [OPTIONS]";
  if (c.file) text += std::string(" ") + (c.command == Command::Help ? "[COMMAND]" : c.file);
  return text;
}

QCommandLineOption ToOption(const OptionSpec& o) {
  const QStringList names = QString::fromLatin1(o.names).split(u',');
  return o.value ? QCommandLineOption(names, QString::fromUtf8(o.description), QString::fromLatin1(o.value))
                 : QCommandLineOption(names, QString::fromUtf8(o.description));
}

// Whether option `arg` ("--baud", "-x") takes the next argument as its value, in any command.
bool TakesValue(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '-' || arg.find('=') != std::string::npos) return false;
  const std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
  auto takes = [&name](const OptionSpec& o) {
    const std::vector<std::string> names = NamesOf(o);
    return o.value && std::find(names.begin(), names.end(), name) != names.end();
  };
  if (std::any_of(std::begin(kGlobal), std::end(kGlobal), takes)) return true;
  for (const CommandSpec& c : Commands())
    if (std::any_of(c.options.begin(), c.options.end(), takes)) return true;
  return false;
}

// The parser sees each argument as Latin-1, one character per byte, and every value it hands back
// turns into the same bytes again: a file name that is not valid UTF-8 survives the parser.
QString FromArg(const std::string& arg) {
  return QString::fromLatin1(arg.data(), static_cast<qsizetype>(arg.size()));
}
std::string ToArg(const QString& text) { return text.toLatin1().toStdString(); }

ParsedCommandLine Fail(const std::string& where, const std::string& what, bool json) {
  ParsedCommandLine parsed;
  parsed.text = where + ": " + what;
  parsed.exitCode = kExitUsage;
  parsed.wantsJson = json;
  return parsed;
}

// A reply window in milliseconds, or none when `text` is not one.
std::optional<int> ReplyTimeoutFrom(const std::string& text) {
  char* end = nullptr;
  const long ms = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || ms < kMinReplyTimeoutMs || ms > kMaxReplyWindowMs) return std::nullopt;
  return static_cast<int>(ms);
}

std::string ReplyTimeoutRange() {
  return "milliseconds from " + std::to_string(kMinReplyTimeoutMs) + " to " +
         std::to_string(kMaxReplyWindowMs);
}

}  // namespace

const char* CommandName(Command command) { return Spec(command).name; }

std::string HelpText(std::optional<Command> command) {
  if (command && *command != Command::Help) {
    const CommandSpec& c = Spec(*command);
    return "Usage: " + Synopsis(c) + "\n" + c.summary + "\n\nOptions:\n" + OptionLines(c.options) +
           "\nGlobal options (before or after the command):\n" +
           OptionLines(std::vector<OptionSpec>(std::begin(kGlobal), std::end(kGlobal))) +
           (c.file && c.command != Command::Help ? "\n" + std::string(kFileKinds) : "") + "\n" +
           ExitCodeLines();
  }
  std::string text =
      "Usage: brindlemark-cli [GLOBAL OPTIONS] COMMAND [OPTIONS] [FILE]\n"
      "Writes firmware into AVR microcontrollers through a bootloader listening on a serial line.\n\n"
      "Commands:\n";
  for (const CommandSpec& c : Commands()) {
    text += "  " + Synopsis(c) + "\n      " + c.summary + "\n";
    if (!c.options.empty()) {
      for (const OptionSpec& o : c.options)
        text += "      " + Spelled(o) + (o.value ? std::string(" ") + o.value : "") + "\n";
    }
  }
  text += "\nGlobal options (before or after the command):\n" +
          OptionLines(std::vector<OptionSpec>(std::begin(kGlobal), std::end(kGlobal))) +
          "  --version             Show the version and the license.\n\n" + kFileKinds + "\n" +
          ExitCodeLines() +
          "\n'brindlemark-cli help COMMAND' or 'brindlemark-cli COMMAND --help' describes one command.\n";
  return text;
}

namespace {

// The command: the first argument that is neither an option nor an option's value.
struct CommandWord {
  const CommandSpec* spec = nullptr;
  std::string word;
};
CommandWord FindCommand(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") break;
    if (!args[i].empty() && args[i][0] == '-' && args[i] != "-") {
      if (TakesValue(args[i])) ++i;
      continue;
    }
    return {Find(args[i]), args[i]};
  }
  return {};
}

// The command's own options, once the parser has read the line.
std::optional<ParsedCommandLine> ReadCommandOptions(const QCommandLineParser& parser, const CommandSpec& spec,
                                                    const std::string& where, bool json, CommandLine& line) {
  auto has = [&](const char* name) {
    return std::any_of(spec.options.begin(), spec.options.end(),
                       [name](const OptionSpec& o) { return NamesOf(o).back() == name; }) &&
           parser.isSet(QString::fromLatin1(name));
  };
  if (has("flash-out")) line.flashOut = ToArg(parser.value("flash-out"));
  if (has("eeprom-out")) line.eepromOut = ToArg(parser.value("eeprom-out"));
  if (has("baud")) {
    bool ok = false;
    line.baud = parser.value("baud").toInt(&ok);
    if (!ok)
      return Fail(where, "--baud needs a rate in baud, not '" + ToArg(parser.value("baud")) + "'", json);
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
  line.noFlash = has("no-flash");
  line.noEeprom = has("no-eeprom");
  if (line.noFlash && line.noEeprom)
    return Fail(where, "--no-flash and --no-eeprom leave nothing to write", json);
  line.stop = has("stop");
  line.force = has("force");
  line.trace = has("trace");
  line.quiet = has("quiet");
  line.verify = has("verify");
  if (has("wait-after-open")) {
    bool ok = false;
    line.waitAfterOpenMs = parser.value("wait-after-open").toInt(&ok);
    if (!ok || *line.waitAfterOpenMs < 0 || *line.waitAfterOpenMs > 10000)
      return Fail(where,
                  "--wait-after-open needs milliseconds from 0 to 10000, not '" +
                      ToArg(parser.value("wait-after-open")) + "'",
                  json);
  }
  if (has("reply-timeout")) {
    const std::string text = ToArg(parser.value("reply-timeout"));
    const std::optional<int> ms = ReplyTimeoutFrom(text);
    if (!ms)
      return Fail(where, "--reply-timeout needs " + ReplyTimeoutRange() + ", not '" + text + "'", json);
    line.replyTimeoutMs = *ms;
  }
  if (has("connect-attempts")) {
    bool ok = false;
    line.connectAttempts = parser.value("connect-attempts").toInt(&ok);
    if (!ok || line.connectAttempts < 1 || line.connectAttempts > 100)
      return Fail(where,
                  "--connect-attempts needs a number from 1 to 100, not '" +
                      ToArg(parser.value("connect-attempts")) + "'",
                  json);
  }
  line.probe = has("probe");
  line.allPorts = has("all-ports");
  if (has("timeout")) {
    bool ok = false;
    const double seconds = parser.value("timeout").toDouble(&ok);
    if (!ok || seconds <= 0)
      return Fail(
          where, "--timeout needs a positive number of seconds, not '" + ToArg(parser.value("timeout")) + "'",
          json);
    line.timeoutSeconds = seconds;
  }
  if (has("log-dir")) line.logDir = ToArg(parser.value("log-dir"));
  if (has("watch")) line.watchDir = ToArg(parser.value("watch"));
  if (has("settle")) {
    bool ok = false;
    line.settleMs = parser.value("settle").toInt(&ok);
    if (!ok || line.settleMs < 0 || line.settleMs > 60000)
      return Fail(where,
                  "--settle needs milliseconds from 0 to 60000, not '" + ToArg(parser.value("settle")) + "'",
                  json);
  }
  if (has("max-boards")) {
    bool ok = false;
    line.maxBoards = parser.value("max-boards").toInt(&ok);
    if (!ok || *line.maxBoards < 1)
      return Fail(where,
                  "--max-boards needs a positive number, not '" + ToArg(parser.value("max-boards")) + "'",
                  json);
  }
  if (spec.command == Command::Gang && !line.allPorts && line.ports.devices.empty())
    return Fail(where, "name the boards' ports with --port DEVICE (repeatable) or use --all-ports", json);
  return std::nullopt;
}

}  // namespace

bool AsksForVersion(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--") return false;
    if (a == "--version") return true;
  }
  return false;
}

namespace {

// An option that takes a value but has none: the last argument, or followed by another option
// (`--port --json` must not name a port "--json").
std::optional<std::string> MissingValue(const std::vector<std::string>& args) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--") break;
    if (!TakesValue(args[i])) continue;
    const bool none = i + 1 == args.size() || (args[i + 1].size() > 1 && args[i + 1][0] == '-');
    if (none) return args[i];
    ++i;
  }
  return std::nullopt;
}

// The first usage error of a line that names no command, in the words the parser uses.
std::string ErrorWithoutCommand(const std::vector<std::string>& args) {
  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  for (const OptionSpec& o : kGlobal) parser.addOption(ToOption(o));
  for (const OptionSpec& o : kRun) parser.addOption(ToOption(o));
  QStringList arguments{QStringLiteral("brindlemark-cli")};
  for (const std::string& a : args) arguments << FromArg(a);
  if (!parser.parse(arguments)) return ToArg(parser.errorText());
  return "a COMMAND is missing (ports, load, download, erase, gang, station, loaders or help; --help "
         "describes them)";
}

std::optional<int> BaudFromEnvironment() {
  const char* text = std::getenv("BRINDLEMARK_BAUD");
  if (!text || !*text) return std::nullopt;
  char* end = nullptr;
  const long baud = std::strtol(text, &end, 10);
  if (*end != '\0' || baud < kMinBaud || baud > kMaxBaud) return -1;
  return static_cast<int>(baud);
}

}  // namespace

ParsedCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  const bool json = std::find(args.begin(), args.end(), "--json") != args.end();
  const CommandWord command = FindCommand(args);
  const CommandSpec* spec = command.spec;
  const std::string where = spec ? std::string("brindlemark-cli ") + spec->name : "brindlemark-cli";
  if (const std::optional<std::string> option = MissingValue(args))
    return Fail(where, *option + " needs a value", json);
  if (!spec) {
    const bool wantsHelp = std::find(args.begin(), args.end(), "--help") != args.end() ||
                           std::find(args.begin(), args.end(), "-h") != args.end();
    if (wantsHelp) return {std::nullopt, HelpText(), kExitDone, json};
    if (command.word.empty()) return Fail(where, ErrorWithoutCommand(args), json);
    return Fail(where, "unknown command '" + command.word + "'", json);
  }

  QCommandLineParser parser;
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  for (const OptionSpec& o : kGlobal) parser.addOption(ToOption(o));
  for (const OptionSpec& o : spec->options) parser.addOption(ToOption(o));
  QStringList arguments{QStringLiteral("brindlemark-cli")};
  for (const std::string& a : args) arguments << FromArg(a);
  if (!parser.parse(arguments)) return Fail(where, ToArg(parser.errorText()), json);

  CommandLine line;
  line.command = spec->command;
  line.json = parser.isSet("json");
  line.help = parser.isSet("help");
  for (const QString& d : parser.values("port")) line.ports.devices.push_back(ToArg(d));
  const char* envPort = std::getenv("BRINDLEMARK_PORT");
  const bool runs = spec->command == Command::Download || spec->command == Command::Erase ||
                    spec->command == Command::Gang || spec->command == Command::Station;
  const bool allPorts = std::find(args.begin(), args.end(), "--all-ports") != args.end();
  if (runs && spec->command != Command::Station && !allPorts && line.ports.devices.empty() && envPort &&
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
  if (runs || spec->command == Command::Ports) {
    if (const char* text = std::getenv("BRINDLEMARK_REPLY_TIMEOUT"); text && *text) {
      const std::optional<int> ms = ReplyTimeoutFrom(text);
      if (!ms)
        return Fail(where,
                    std::string("BRINDLEMARK_REPLY_TIMEOUT='") + text + "' is not " + ReplyTimeoutRange(),
                    json);
      line.replyTimeoutMs = *ms;
    }
  }
  line.ports.simulatedTarget = parser.isSet("simulated-target");
  if (line.help) return {std::nullopt, HelpText(spec->command), kExitDone, json};

  QStringList positional = parser.positionalArguments();
  positional.removeFirst();  // the command
  if (spec->command == Command::Help) {
    if (positional.size() > 1) return Fail(where, "one COMMAND at most", json);
    if (positional.empty()) return {std::nullopt, HelpText(), kExitDone, json};
    const CommandSpec* topic = Find(ToArg(positional.front()));
    if (!topic) return Fail(where, "unknown command '" + ToArg(positional.front()) + "'", json);
    return {std::nullopt, HelpText(topic->command), kExitDone, json};
  }
  if (spec->file) {
    if (positional.empty()) return Fail(where, std::string(spec->file) + " is missing", json);
    line.file = ToArg(positional.takeFirst());
  }
  if (!positional.empty())
    return Fail(where, "unexpected argument '" + ToArg(positional.front()) + "'", json);
  if (auto failed = ReadCommandOptions(parser, *spec, where, json, line)) return *failed;
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
  if (gang.verify) args.push_back("--verify");
  if (gang.waitAfterOpenMs)
    args.insert(args.end(), {"--wait-after-open", std::to_string(*gang.waitAfterOpenMs)});
  if (gang.replyTimeoutMs != kDefaultReplyTimeoutMs)
    args.insert(args.end(), {"--reply-timeout", std::to_string(gang.replyTimeoutMs)});
  if (gang.connectAttempts > 1)
    args.insert(args.end(), {"--connect-attempts", std::to_string(gang.connectAttempts)});
  return args;
}

}  // namespace bm::cli
