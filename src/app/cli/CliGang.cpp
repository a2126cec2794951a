// brindlemark-cli gang: the same file into many boards at once, each by its own child (see
// BoardSupervisor). The parent shows one line per board and a summary at the end. Children end
// with the parent: on Ctrl-C or SIGTERM every child is stopped (a child ends its run as quitting
// does).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <set>

#include "app/PortOptions.h"
#include "app/cli/BoardSupervisor.h"
#include "app/cli/CliRecord.h"
#include "app/cli/CommandLoop.h"
#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/FileCheck.h"
#include "app/cli/Interrupts.h"
#include "app/cli/PortNames.h"
#include "app/cli/System.h"

namespace bm::cli {
namespace {

using json = nlohmann::ordered_json;

struct Board {
  std::string port;
  bool named = false;  // given with --port: a silent one is a failure, not a port without a board
  std::string status = "starting";
  std::optional<BoardResult> result;  // once it ended
  bool skipped = false;               // --all-ports: no loader on this port
};

// A file name for a port's logs: "/dev/ttyUSB0" gives "ttyUSB0", "/dev/pts/3" gives "pts_3", "COM3" "COM3";
// a name already taken gets "-2", "-3"... so no two boards share a log.
std::string LogName(const std::string& port, std::set<std::string>& taken) {
  std::string name = port.rfind("/dev/", 0) == 0 ? port.substr(5) : port;
  for (char& c : name)
    if (c == '/' || c == '\\' || c == ':' || c == ' ') c = '_';
  if (name.empty()) name = "port";
  std::string unique = name;
  for (int n = 2; !taken.insert(unique).second; ++n) unique = name + "-" + std::to_string(n);
  return unique;
}

class GangRun {
 public:
  GangRun(const CommandLine& line, EventLog& log)
      : line_(line),
        log_(log),
        terminal_(StderrIsTerminal()),
        supervisor_(
            loop_, ThisProgramPath(),
            [this](const std::string& port, const std::string& event, const json& fields) {
              Take(BoardOf(port), event, fields);
            },
            [this](const std::string& port, const BoardResult& result) { Ended(BoardOf(port), result); }) {}

  int Run() {
    // Checked before any board starts: logs that cannot be written are lost without a word.
    if (const std::optional<std::string> refusal = LogDirRefusal("gang", line_.logDir)) {
      std::cerr << *refusal << '\n';
      log_.Emit("message", {{"kind", "error"}, {"text", *refusal}});
      return Finish(Outcome::Usage);
    }
    // --record: checked once here; each board's child records its own row.
    if (const std::optional<RecordRefusal> refusal = PrepareRecord(line_)) {
      std::cerr << "gang: " << refusal->text << '\n';
      log_.Emit("message", {{"kind", "error"}, {"text", "gang: " + refusal->text}});
      return Finish(refusal->outcome);
    }
    const std::vector<Port> ports = Ports();
    if (ports.empty()) {
      std::cerr << "gang: no serial port to flash (name them with --port DEVICE)\n";
      return Finish(Outcome::NotFound);
    }
    Interrupts interrupts(loop_, [this] { supervisor_.StopAll(); });
    for (const Port& port : ports) {
      Board& b = boards_.emplace_back();
      b.port = port.name;
      b.named = port.named;
    }
    for (const Port& port : ports) {
      BoardLaunch launch{port.name, ChildArguments(line_, port.name), std::nullopt, line_.timeoutSeconds, {}};
      if (line_.logDir) launch.logBase = *line_.logDir + "/" + LogName(DeviceOf(port.name), logNames_);
      supervisor_.Start(launch);
    }
    Draw();
    while (supervisor_.Running() > 0) loop_.Run();
    Draw();
    return Finish(GangOutcome());
  }

 private:
  struct Port {
    std::string name;  // as given, or as the system lists it
    bool named = false;
  };
  // Each device once, by the first name it was given (resolved once: PortNames.h); a named port
  // counts as named even when --all-ports lists it too.
  std::vector<Port> Ports() const {
    std::vector<Port> ports;
    std::vector<std::string> devices;
    auto add = [&](const std::string& given, bool named) {
      const std::string name = ResolvedPortName(given);
      const std::string device = DeviceOf(name);
      const auto it = std::find(devices.begin(), devices.end(), device);
      if (it != devices.end()) {
        ports[static_cast<size_t>(it - devices.begin())].named |= named;
        return;
      }
      devices.push_back(device);
      ports.push_back({name, named});
    };
    for (const std::string& d : line_.ports.devices) add(d, true);
    if (line_.allPorts) {
      const app::Ports system = app::MakePorts({});
      for (int i = 0; i < system.list->Count(); ++i) add(system.list->PortName(i), false);
    }
    return ports;
  }

  Board& BoardOf(const std::string& port) {
    return *std::find_if(boards_.begin(), boards_.end(), [&port](const Board& b) { return b.port == port; });
  }

  // One event of a board's child: its line on screen, its JSON line (with "port").
  void Take(Board& b, const std::string& event, const json& fields) {
    if (event == "port" && fields.value("status", "") == "skipped")
      b.status = "skipped: " + fields.value("reason", "");
    if (event == "phase") b.status = fields.value("name", "");
    if (event == "progress") {
      char text[96];
      std::snprintf(text, sizeof text, "%s %d %%  %lld B/s", fields.value("phase", "").c_str(),
                    fields.value("percent", 0), static_cast<long long>(fields.value("bytesPerSecond", 0)));
      b.status = text;
    }
    if (event == "message" && fields.value("kind", "") != "info") b.status = fields.value("text", "");
    if (log_.Enabled()) {
      json line{{"port", b.port}};
      line.update(fields);
      log_.Emit(event, line);
    }
    // The live lines go to stderr with --json too: stdout is the scripts', stderr the person's.
    // -q: none of them; the summary and the failures stay.
    if (line_.quiet) return;
    if (terminal_) {
      Draw();
    } else if (event != "progress" || fields.value("percent", 0) % 10 == 0) {
      std::cerr << b.port << ": " << event << ' ' << fields.dump() << '\n';
    }
  }

  void Ended(Board& b, const BoardResult& result) {
    b.result = result;
    // --all-ports: a listed port without a loader is no board; a port named with --port is.
    b.skipped = line_.allPorts && !b.named && result.outcome == Outcome::NotFound;
    if (b.skipped) b.result->outcome = Outcome::Skipped;
    b.status = std::string(NameOf(b.result->outcome)) + " (exit " + std::to_string(result.exitCode) + ")";
    loop_.Quit();
  }

  Outcome GangOutcome() const {
    if (Interrupts::Received()) return Outcome::Stopped;
    int flashed = 0;
    bool logsLost = false;  // every board done, but a log could not be kept
    for (const Board& b : boards_) {
      if (b.skipped) continue;
      logsLost |= b.result->outcome == Outcome::OutputFailed;
      if (b.result->outcome != Outcome::Done && b.result->outcome != Outcome::OutputFailed)
        return Outcome::BoardsFailed;
      ++flashed;
    }
    if (flashed == 0) return Outcome::NotFound;
    return logsLost ? Outcome::OutputFailed : Outcome::Done;
  }

  // One live line per board on a terminal, redrawn in place.
  void Draw() {
    if (!terminal_ || line_.quiet) return;
    if (drawnLines_ > 0) std::cerr << "\x1b[" << drawnLines_ << 'A';
    for (const Board& b : boards_) {
      std::string status = b.status;
      const size_t nl = status.find('\n');
      if (nl != std::string::npos) status = status.substr(0, nl);
      std::cerr << '\r' << b.port << "  " << status << "\x1b[K\n";
    }
    drawnLines_ = static_cast<int>(boards_.size());
    std::cerr << std::flush;
  }

  int Finish(Outcome outcome) {
    json boards = json::array();
    for (const Board& b : boards_) boards.push_back(BoardJson(b.port, *b.result));
    const BoardResult* first = boards_.empty() ? nullptr : &*boards_.front().result;
    const int exitCode = EmitResult(log_, outcome,
                                    {{"sha256", first ? first->sha256 : ""},
                                     {"flashSha256", first ? first->flashSha256 : json(nullptr)},
                                     {"eepromSha256", first ? first->eepromSha256 : json(nullptr)},
                                     {"boards", boards}});
    // The summary table: on stdout for a person, on stderr when stdout carries JSON lines.
    std::FILE* table = log_.Enabled() ? stderr : stdout;
    std::fprintf(table, "%-24s %-9s %-12s %4s %8s  %s\n", "port", "signature", "outcome", "exit", "seconds",
                 "sha256");
    int failed = 0;
    for (const Board& b : boards_) {
      const BoardResult& r = *b.result;
      std::fprintf(table, "%-24s %-9s %-12s %4d %8.3f  %s\n", b.port.c_str(), r.signature.c_str(),
                   NameOf(r.outcome), r.exitCode, r.seconds, r.sha256.c_str());
      failed += !b.skipped && r.outcome != Outcome::Done && r.outcome != Outcome::OutputFailed;
    }
    if (failed > 0) std::fprintf(stderr, "gang: %d of %zu boards failed\n", failed, boards_.size());
    std::fflush(table);
    return exitCode;
  }

  const CommandLine& line_;
  EventLog& log_;
  const bool terminal_;
  SystemLoop loop_;
  std::vector<Board> boards_;  // complete before the first child starts: never moves after
  BoardSupervisor supervisor_;
  int drawnLines_ = 0;
  std::set<std::string> logNames_;
};

}  // namespace

int Gang(const CommandLine& line) {
  EventLog log(std::cout, line.json);
  return GangRun(line, log).Run();
}

}  // namespace bm::cli
