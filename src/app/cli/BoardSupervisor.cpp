#include "app/cli/BoardSupervisor.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <QProcess>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <fstream>

#include "app/cli/EventLog.h"

namespace bm::cli {

using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

namespace {
constexpr int kGraceMs = 3000;  // a stopped child that has not ended within this is killed
}  // namespace

struct BoardSupervisor::Child {
  BoardLaunch launch;
  std::unique_ptr<QProcess> process;
  std::unique_ptr<QTimer> limit;
  std::string pending;  // an unfinished line of its stdout
  std::ofstream jsonLog, textLog;
  BoardResult result;
  std::optional<Outcome> named;  // what its result line said
  std::optional<double> ownSeconds;
  Clock::time_point started = Clock::now();
  bool running = true;
  bool stopAsked = false;
  bool timedOut = false;
};

json BoardJson(const std::string& port, const BoardResult& result) {
  return {{"port", port},
          {"signature", result.signature},
          {"outcome", NameOf(result.outcome)},
          {"exitCode", result.exitCode},
          {"seconds", Millis(result.seconds)},
          {"sha256", result.sha256},
          {"flashSha256", result.flashSha256},
          {"eepromSha256", result.eepromSha256}};
}

BoardSupervisor::BoardSupervisor(std::string program, EventHandler onEvent, EndHandler onEnd)
    : program_(std::move(program)), onEvent_(std::move(onEvent)), onEnd_(std::move(onEnd)) {}

BoardSupervisor::~BoardSupervisor() {
  // A child still running is killed by its QProcess; its end must not call back into a command
  // that is going away.
  for (auto& [port, child] : children_) child->process->disconnect();
}

void BoardSupervisor::Start(const BoardLaunch& launch) {
  std::unique_ptr<Child>& slot = children_[launch.port];
  if (slot) {
    if (slot->running) return;
    // Its last signal may still be on the stack: let Qt delete it.
    slot->process->disconnect();
    slot->process.release()->deleteLater();
  }
  slot = std::make_unique<Child>();
  Child& c = *slot;
  c.launch = launch;
  if (launch.logBase) {
    c.jsonLog.open(*launch.logBase + ".jsonl");
    c.textLog.open(*launch.logBase + ".log");
  }
  c.process = std::make_unique<QProcess>();
  QProcess* process = c.process.get();
  process->setChildProcessModifier([] {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  });
  QObject::connect(process, &QProcess::readyReadStandardOutput, process, [this, &c] { Take(c); });
  QObject::connect(process, &QProcess::readyReadStandardError, process, [&c] {
    const QByteArray text = c.process->readAllStandardError();
    if (c.textLog) c.textLog.write(text.constData(), text.size());
  });
  QObject::connect(process, &QProcess::finished, process, [this, &c](int code, QProcess::ExitStatus status) {
    End(c, status == QProcess::NormalExit ? std::optional<int>(code) : std::nullopt);
  });
  QObject::connect(process, &QProcess::errorOccurred, process, [this, &c](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    // No child ran, so no line will say why: the board says it, from the event loop.
    const std::string why = c.process->errorString().toStdString();
    QTimer::singleShot(0, c.process.get(), [this, &c, why] {
      Hand(c, {{"event", "message"},
               {"t", 0.0},
               {"kind", "error"},
               {"text", "cannot start the board's run: " + why}});
      End(c, std::nullopt);
    });
  });
  if (launch.timeLimitSeconds) {
    // A coarse timer may fire 5 % early: the board's own clock decides, and a timer that came
    // too soon is set again for what is left.
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::duration<double>(*launch.timeLimitSeconds));
    c.limit = std::make_unique<QTimer>();
    c.limit->setSingleShot(true);
    c.limit->setTimerType(Qt::PreciseTimer);
    QObject::connect(c.limit.get(), &QTimer::timeout, [this, &c, limit] {
      const auto left =
          limit - std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - c.started);
      if (left > std::chrono::milliseconds::zero()) {
        c.limit->start(left + std::chrono::milliseconds(1));
        return;
      }
      c.timedOut = true;
      Stop(c.launch.port);
    });
    c.limit->start(limit);
  }
  QStringList args;
  for (const std::string& a : launch.args) args << QString::fromStdString(a);
  process->start(QString::fromStdString(program_), args);
}

void BoardSupervisor::Take(Child& c) {
  c.pending += c.process->readAllStandardOutput().toStdString();
  for (size_t end; (end = c.pending.find('\n')) != std::string::npos;) {
    const std::string text = c.pending.substr(0, end);
    c.pending.erase(0, end + 1);
    const json event = json::parse(text, nullptr, false);
    if (event.is_discarded() || !event.contains("event")) {
      if (c.jsonLog) c.jsonLog << text << '\n';
      continue;
    }
    Hand(c, event);
  }
}

// One line of a board's child: what the board's result needs of it, its log, its command.
void BoardSupervisor::Hand(Child& c, json event) {
  const std::string name = event.value("event", "");
  if (name == "start" && c.launch.fileAsNamed) event["file"] = *c.launch.fileAsNamed;
  if (c.jsonLog)
    c.jsonLog << event.dump(-1, ' ', false, json::error_handler_t::replace) << '\n' << std::flush;
  BoardResult& r = c.result;
  if (name == "identified" && event["signature"].is_string()) r.signature = event["signature"];
  if (name == "start") r.sha256 = event.value("sha256", "");
  if (name == "result") {
    c.named = OutcomeNamed(event.value("outcome", ""));
    if (event["seconds"].is_number()) c.ownSeconds = event["seconds"].get<double>();
    if (const std::string sha = event.value("sha256", ""); !sha.empty()) r.sha256 = sha;
    r.flashSha256 = event.value("flashSha256", json(nullptr));
    r.eepromSha256 = event.value("eepromSha256", json(nullptr));
  }
  json fields = json::object();
  for (const auto& [key, value] : event.items())
    if (key != "event" && key != "t") fields[key] = value;
  onEvent_(c.launch.port, name, fields);
}

// `exitStatus`: none when the child never exited on its own (it could not start, or a signal
// ended it).
void BoardSupervisor::End(Child& c, std::optional<int> exitStatus) {
  if (!c.running) return;
  c.running = false;
  if (c.limit) c.limit->stop();
  Take(c);
  BoardResult& r = c.result;
  // The result line says how the run ended; only a child without one is judged by how it ended.
  if (c.timedOut)
    r.outcome = Outcome::Timeout;
  else if (c.named)
    r.outcome = *c.named;
  else if (exitStatus)
    r.outcome = OutcomeOfExitStatus(*exitStatus);
  else
    r.outcome = c.stopAsked ? Outcome::Stopped : Outcome::Failed;
  r.exitCode = exitStatus.value_or(ExitStatusOf(r.outcome));
  r.seconds = c.ownSeconds.value_or(std::chrono::duration<double>(Clock::now() - c.started).count());
  onEnd_(c.launch.port, r);
}

void BoardSupervisor::Stop(const std::string& port) {
  const auto it = children_.find(port);
  if (it == children_.end() || !it->second->running) return;
  Child& c = *it->second;
  c.stopAsked = true;
  if (c.process->state() == QProcess::NotRunning) return;  // its failure to start is on its way
  c.process->terminate();
  // Tied to the process alone: the board may have started again by then, with a new one.
  QProcess* process = c.process.get();
  QTimer::singleShot(kGraceMs, process, [process] {
    if (process->state() != QProcess::NotRunning) process->kill();
  });
}

void BoardSupervisor::StopAll() {
  for (auto& [port, child] : children_) Stop(port);
}

int BoardSupervisor::Running() const {
  int running = 0;
  for (const auto& [port, child] : children_) running += child->running;
  return running;
}

}  // namespace bm::cli
