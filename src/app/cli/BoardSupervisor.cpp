#include "app/cli/BoardSupervisor.h"

#include <chrono>
#include <fstream>

#include "app/cli/EventLog.h"
#include "base/FileOpen.h"

namespace bm::cli {

using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

namespace {
constexpr auto kGrace = std::chrono::milliseconds(3000);  // a stopped child not ended by then is killed
}  // namespace

struct BoardSupervisor::Child {
  BoardLaunch launch;
  std::unique_ptr<ChildProcess> process;
  std::optional<CommandLoop::TimerId> limit, grace;
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

BoardSupervisor::BoardSupervisor(CommandLoop& loop, std::string program, EventHandler onEvent,
                                 EndHandler onEnd)
    : loop_(loop), program_(std::move(program)), onEvent_(std::move(onEvent)), onEnd_(std::move(onEnd)) {}

BoardSupervisor::~BoardSupervisor() {
  // A child still running is killed with its process object; its timers must not fire into a
  // command that is going away.
  for (auto& [port, child] : children_) {
    if (child->limit) loop_.Cancel(*child->limit);
    if (child->grace) loop_.Cancel(*child->grace);
  }
}

void BoardSupervisor::Start(const BoardLaunch& launch) {
  std::unique_ptr<Child>& slot = children_[launch.port];
  if (slot && slot->running) return;
  // An earlier child of this port ended; its end may still be on the stack (the end handler
  // starting the board again): keep its objects until the next turn.
  if (slot) {
    std::shared_ptr<Child> old(slot.release());
    loop_.After(std::chrono::milliseconds(0), [old] {});
  }
  slot = std::make_unique<Child>();
  Child& c = *slot;
  c.launch = launch;
  if (launch.logBase) {
    c.jsonLog.open(PathFromName(*launch.logBase + ".jsonl"));
    c.textLog.open(PathFromName(*launch.logBase + ".log"));
    c.result.logLost = !c.jsonLog || !c.textLog;
  }
  if (launch.timeLimitSeconds) {
    const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::duration<double>(*launch.timeLimitSeconds));
    c.limit = loop_.After(limit, [this, &c] {
      c.limit.reset();
      c.timedOut = true;
      Stop(c.launch.port);
    });
  }
  ChildEvents events;
  events.output = [this, &c](std::string_view bytes) { Take(c, bytes); };
  events.errors = [&c](std::string_view bytes) {
    if (!c.launch.logBase) return;
    c.textLog.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    c.result.logLost |= !c.textLog.flush();
  };
  events.ended = [this, &c](std::optional<int> exitStatus, const std::string& cannotStart) {
    // No child ran, so no line will say why: the board says it.
    if (!cannotStart.empty())
      Hand(c, {{"event", "message"},
               {"t", 0.0},
               {"kind", "error"},
               {"text", "cannot start the board's run: " + cannotStart}});
    End(c, exitStatus);
  };
  c.process = loop_.Start(program_, launch.args, std::move(events));
}

void BoardSupervisor::Take(Child& c, std::string_view bytes) {
  c.pending += bytes;
  for (size_t end; (end = c.pending.find('\n')) != std::string::npos;) {
    const std::string text = c.pending.substr(0, end);
    c.pending.erase(0, end + 1);
    const json event = json::parse(text, nullptr, false);
    if (event.is_discarded() || !event.contains("event")) {
      if (c.launch.logBase) c.result.logLost |= !(c.jsonLog << text << '\n');
      continue;
    }
    Hand(c, event);
  }
}

// One line of a board's child: what the board's result needs of it, its log, its command.
void BoardSupervisor::Hand(Child& c, json event) {
  const std::string name = event.value("event", "");
  if (name == "start" && c.launch.fileAsNamed) event["file"] = *c.launch.fileAsNamed;
  if (c.launch.logBase) {
    c.jsonLog << event.dump(-1, ' ', false, json::error_handler_t::replace) << '\n' << std::flush;
    c.result.logLost |= !c.jsonLog;
  }
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
  if (c.limit) loop_.Cancel(*c.limit);
  if (c.grace) loop_.Cancel(*c.grace);
  c.limit.reset();
  c.grace.reset();
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
  if (r.logLost && c.launch.logBase) {
    onEvent_(c.launch.port, "message",
             {{"kind", "error"},
              {"text", "cannot write the board's log " + *c.launch.logBase + ".jsonl or .log"}});
    if (r.outcome == Outcome::Done) r.outcome = Outcome::OutputFailed;
  }
  r.seconds = c.ownSeconds.value_or(std::chrono::duration<double>(Clock::now() - c.started).count());
  onEnd_(c.launch.port, r);
}

void BoardSupervisor::Stop(const std::string& port) {
  const auto it = children_.find(port);
  if (it == children_.end() || !it->second->running) return;
  Child& c = *it->second;
  if (c.stopAsked) return;
  c.stopAsked = true;
  if (!c.process->Running()) return;  // its failure to start is on its way
  c.process->Terminate();
  c.grace = loop_.After(kGrace, [&c] {
    c.grace.reset();
    if (c.process->Running()) c.process->Kill();
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
