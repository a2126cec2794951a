// brindlemark-cli gang: the same file into many boards at once. Each board gets a child process
// of this very program (`download --json` for its one port), so a stuck or unplugged board holds
// up nobody but itself; the parent reads the children's JSON lines, shows one line per board and
// a summary at the end. Children end with the parent: on Ctrl-C or SIGTERM every child is
// stopped (a child ends its run as quitting does), and a child whose parent dies gets SIGTERM.
#include <sys/prctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <set>

#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/FileCheck.h"
#include "app/cli/Interrupts.h"
#include "platform/qt/PosixLine.h"
#include "platform/qt/QtSerialPort.h"

namespace bm::cli {
namespace {

using json = nlohmann::ordered_json;

// A child that does not end within this after SIGTERM is killed.
constexpr int kGraceMs = 3000;

struct Board {
  std::string port;
  bool named = false;  // given with --port: a silent one is a failure, not a port without a board
  std::unique_ptr<QProcess> process;
  std::unique_ptr<QTimer> timer;
  std::string pending;  // an unfinished line of the child's stdout
  std::ofstream jsonLog, textLog;
  std::string signature = "-", outcome, sha256, status = "starting";  // outcome: from its result line
  json flashSha256 = nullptr, eepromSha256 = nullptr;
  int exitCode = -1;
  double seconds = 0;
  bool timedOut = false;
  bool skipped = false;  // --all-ports: no loader on this port
  bool finished = false;
};

// A file name for a port's logs: "/dev/ttyUSB0" gives "ttyUSB0", "/dev/pts/3" gives "pts_3";
// a name already taken gets "-2", "-3"... so no two boards share a log.
std::string LogName(const std::string& port, std::set<std::string>& taken) {
  std::string name = port.rfind("/dev/", 0) == 0 ? port.substr(5) : port;
  for (char& c : name)
    if (c == '/' || c == ':' || c == ' ') c = '_';
  if (name.empty()) name = "port";
  std::string unique = name;
  for (int n = 2; !taken.insert(unique).second; ++n) unique = name + "-" + std::to_string(n);
  return unique;
}

// The device a port name stands for: links followed, "ttyS0" as "/dev/ttyS0". Two names of one
// device must never get two children (their commands would interleave on the line).
std::string DeviceOf(const std::string& port) {
  if (port == "sim") return port;
  std::error_code ec;
  const std::filesystem::path file = qt::posix::DeviceFile(port);
  const std::filesystem::path real = std::filesystem::canonical(file, ec);
  return ec ? file.string() : real.string();
}

class GangRun {
 public:
  GangRun(const CommandLine& line, EventLog& log)
      : line_(line), log_(log), terminal_(isatty(STDERR_FILENO) == 1) {}

  int Run() {
    // Checked before any board starts: logs that cannot be written are lost without a word.
    if (line_.logDir) {
      if (const std::optional<std::string> why = WhyNoLogs(*line_.logDir)) {
        const std::string text = "gang: cannot keep logs in '" + *line_.logDir + "': " + *why;
        std::cerr << text << '\n';
        log_.Emit("message", {{"kind", "error"}, {"text", text}});
        return Finish(kExitUsage);
      }
    }
    const std::vector<Port> ports = Ports();
    if (ports.empty()) {
      std::cerr << "gang: no serial port to flash (name them with --port DEVICE)\n";
      return Finish(kExitNotFound);
    }
    Interrupts interrupts([this] { StopAll(); });
    for (const Port& port : ports) Start(port);
    Draw();
    while (!AllFinished()) loop_.exec();
    Draw();
    return Finish(ExitCode());
  }

 private:
  struct Port {
    std::string name;  // as given, or as the system lists it
    bool named = false;
  };
  // Each device once, by the first name it was given; a named port counts as named even when
  // --all-ports lists it too.
  std::vector<Port> Ports() const {
    std::vector<Port> ports;
    std::vector<std::string> devices;
    auto add = [&](const std::string& name, bool named) {
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
      qt::QtSerialService system(true, {});
      for (int i = 0; i < system.Count(); ++i) add(system.PortName(i), false);
    }
    return ports;
  }

  void Start(const Port& port) {
    auto board = std::make_unique<Board>();
    Board& b = *board;
    b.port = port.name;
    b.named = port.named;
    if (line_.logDir) {
      const std::string base = *line_.logDir + "/" + LogName(DeviceOf(port.name), logNames_);
      b.jsonLog.open(base + ".jsonl");
      b.textLog.open(base + ".log");
    }
    b.process = std::make_unique<QProcess>();
    QStringList args;
    for (const std::string& a : ChildArguments(line_, port.name)) args << QString::fromStdString(a);
    b.process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QObject::connect(b.process.get(), &QProcess::readyReadStandardOutput, [this, &b] { ReadLines(b); });
    QObject::connect(b.process.get(), &QProcess::readyReadStandardError, [&b] {
      const QByteArray text = b.process->readAllStandardError();
      if (b.textLog) b.textLog.write(text.constData(), text.size());
    });
    QObject::connect(b.process.get(), &QProcess::finished, [this, &b](int code, QProcess::ExitStatus status) {
      ReadLines(b);
      Finished(b, status == QProcess::NormalExit ? code : kExitInterrupted);
    });
    QObject::connect(b.process.get(), &QProcess::errorOccurred, [this, &b](QProcess::ProcessError e) {
      if (e == QProcess::FailedToStart) Finished(b, kExitUsage);
    });
    if (line_.timeoutSeconds) {
      // A coarse timer may fire 5 % early: the board's own clock decides, and a timer that came
      // too soon is set again for what is left.
      const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::duration<double>(*line_.timeoutSeconds));
      const auto started = std::chrono::steady_clock::now();
      b.timer = std::make_unique<QTimer>();
      b.timer->setSingleShot(true);
      b.timer->setTimerType(Qt::PreciseTimer);
      QObject::connect(b.timer.get(), &QTimer::timeout, [this, &b, limit, started] {
        const auto left = limit - std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - started);
        if (left > std::chrono::milliseconds::zero()) {
          b.timer->start(left + std::chrono::milliseconds(1));
          return;
        }
        b.timedOut = true;
        Stop(b);
      });
      b.timer->start(limit);
    }
    boards_.push_back(std::move(board));
    b.process->start(QCoreApplication::applicationFilePath(), args);
  }

  void ReadLines(Board& b) {
    b.pending += b.process->readAllStandardOutput().toStdString();
    size_t end;
    while ((end = b.pending.find('\n')) != std::string::npos) {
      const std::string text = b.pending.substr(0, end);
      b.pending.erase(0, end + 1);
      if (b.jsonLog) b.jsonLog << text << '\n';
      const json event = json::parse(text, nullptr, false);
      if (event.is_discarded() || !event.contains("event")) continue;
      Take(b, event);
    }
  }

  // One event of a board's child: its state, its JSON line (with "port"), its line on screen.
  void Take(Board& b, const json& event) {
    const std::string name = event["event"].get<std::string>();
    if (name == "identified") b.signature = event.value("signature", "-");
    if (name == "start") b.sha256 = event.value("sha256", "");
    if (name == "port" && event.value("status", "") == "skipped")
      b.status = "skipped: " + event.value("reason", "");
    if (name == "phase") b.status = event.value("name", "");
    if (name == "progress") {
      char text[96];
      std::snprintf(text, sizeof text, "%s %d %%  %lld B/s", event.value("phase", "").c_str(),
                    event.value("percent", 0), static_cast<long long>(event.value("bytesPerSecond", 0)));
      b.status = text;
    }
    if (name == "message" && event.value("kind", "") != "info") b.status = event.value("text", "");
    if (name == "result") {
      b.outcome = event.value("outcome", "");
      b.seconds = event.value("seconds", 0.0);
      if (event.contains("sha256") && !event["sha256"].get<std::string>().empty()) b.sha256 = event["sha256"];
      b.flashSha256 = event.value("flashSha256", json(nullptr));
      b.eepromSha256 = event.value("eepromSha256", json(nullptr));
    }
    json rest = json::object();  // the child's fields without its "event" and "t"
    for (const auto& [key, value] : event.items())
      if (key != "event" && key != "t") rest[key] = value;
    if (log_.Enabled()) {
      json fields{{"port", b.port}};
      fields.update(rest);
      log_.Emit(name, fields);
    }
    // The live lines go to stderr with --json too: stdout is the scripts', stderr the person's.
    if (terminal_) {
      Draw();
    } else if (name != "progress" || event.value("percent", 0) % 10 == 0) {
      std::cerr << b.port << ": " << name << ' ' << rest.dump() << '\n';
    }
  }

  void Finished(Board& b, int exitCode) {
    if (b.finished) return;
    b.finished = true;
    if (b.timer) b.timer->stop();
    b.exitCode = exitCode;
    if (b.timedOut) b.outcome = NameOf(Outcome::Timeout);
    // A child that ended without its result line (killed, or it could not start).
    if (b.outcome.empty())
      b.outcome = NameOf(exitCode == kExitInterrupted ? Outcome::Stopped : Outcome::Failed);
    // --all-ports: a listed port without a loader is no board; a port named with --port is.
    b.skipped = line_.allPorts && !b.named && exitCode == kExitNotFound && !b.timedOut;
    if (b.skipped) b.outcome = NameOf(Outcome::Skipped);
    if (b.seconds == 0) b.seconds = Millis(log_.Seconds());
    b.status = b.outcome + " (exit " + std::to_string(exitCode) + ")";
    loop_.quit();
  }

  void Stop(Board& b) {
    if (b.finished || b.process->state() == QProcess::NotRunning) return;
    b.process->terminate();  // SIGTERM: the child ends its run as quitting does
    QTimer::singleShot(kGraceMs, b.process.get(), [&b] {
      if (b.process->state() != QProcess::NotRunning) b.process->kill();
    });
  }

  void StopAll() {
    for (auto& b : boards_) Stop(*b);
  }

  bool AllFinished() const {
    for (const auto& b : boards_)
      if (!b->finished) return false;
    return true;
  }

  static Outcome GangOutcome(int exitCode) {
    if (exitCode == kExitDone) return Outcome::Done;
    if (exitCode == kExitInterrupted) return Outcome::Stopped;
    if (exitCode == kExitNotFound) return Outcome::NotFound;
    return Outcome::BoardsFailed;
  }

  int ExitCode() const {
    if (Interrupts::Received()) return kExitInterrupted;
    int flashed = 0;
    for (const auto& b : boards_) {
      if (b->skipped) continue;
      if (b->exitCode != kExitDone) return kExitGangFailed;
      ++flashed;
    }
    return flashed > 0 ? kExitDone : kExitNotFound;
  }

  // One live line per board on a terminal, redrawn in place.
  void Draw() {
    if (!terminal_) return;
    if (drawnLines_ > 0) std::cerr << "\x1b[" << drawnLines_ << 'A';
    for (const auto& b : boards_) {
      std::string status = b->status;
      const size_t nl = status.find('\n');
      if (nl != std::string::npos) status = status.substr(0, nl);
      std::cerr << '\r' << b->port << "  " << status << "\x1b[K\n";
    }
    drawnLines_ = static_cast<int>(boards_.size());
    std::cerr << std::flush;
  }

  int Finish(int exitCode) {
    json boards = json::array();
    for (const auto& b : boards_)
      boards.push_back({{"port", b->port},
                        {"signature", b->signature},
                        {"outcome", b->outcome},
                        {"exitCode", b->exitCode},
                        {"seconds", b->seconds},
                        {"sha256", b->sha256},
                        {"flashSha256", b->flashSha256},
                        {"eepromSha256", b->eepromSha256}});
    const Board* first = boards_.empty() ? nullptr : boards_.front().get();
    log_.Emit("result", {{"outcome", NameOf(GangOutcome(exitCode))},
                         {"failures", json::array()},
                         {"exitCode", exitCode},
                         {"seconds", Millis(log_.Seconds())},
                         {"sha256", first ? first->sha256 : ""},
                         {"flashSha256", first ? first->flashSha256 : json(nullptr)},
                         {"eepromSha256", first ? first->eepromSha256 : json(nullptr)},
                         {"boards", boards}});
    // The summary table: on stdout for a person, on stderr when stdout carries JSON lines.
    std::FILE* table = log_.Enabled() ? stderr : stdout;
    std::fprintf(table, "%-24s %-9s %-12s %4s %8s  %s\n", "port", "signature", "outcome", "exit", "seconds",
                 "sha256");
    for (const auto& b : boards_)
      std::fprintf(table, "%-24s %-9s %-12s %4d %8.3f  %s\n", b->port.c_str(), b->signature.c_str(),
                   b->outcome.c_str(), b->exitCode, b->seconds, b->sha256.c_str());
    int failed = 0;
    for (const auto& b : boards_) failed += !b->skipped && b->exitCode != kExitDone;
    if (failed > 0) std::fprintf(stderr, "gang: %d of %zu boards failed\n", failed, boards_.size());
    std::fflush(table);
    return exitCode;
  }

  const CommandLine& line_;
  EventLog& log_;
  const bool terminal_;
  std::vector<std::unique_ptr<Board>> boards_;
  QEventLoop loop_;
  int drawnLines_ = 0;
  std::set<std::string> logNames_;
};

}  // namespace

int Gang(const CommandLine& line) {
  EventLog log(std::cout, line.json);
  return GangRun(line, log).Run();
}

}  // namespace bm::cli
