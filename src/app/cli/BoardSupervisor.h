// The boards of gang and station: each board is a child of this very program running
// `download --json` for its one port, so a stuck or unplugged board holds up nobody but itself.
// The supervisor starts the children, hands on their JSON lines, stops them when asked, and
// ends each board with the outcome its child's result line names.
//
// Each child leads a process group of its own: Ctrl-C at the terminal goes to the foreground
// group, which then holds only the parent, and the parent alone decides what a Ctrl-C means
// (gang stops every board, station lets the running ones finish). A child whose parent dies
// gets SIGTERM.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/ExitCodes.h"
#include "platform/CommandLoop.h"

namespace bm::cli {

// One board's child, as its command wants it run.
struct BoardLaunch {
  std::string port;
  std::vector<std::string> args;           // the child's arguments (ChildArguments)
  std::optional<std::string> logBase;      // keep its JSON lines in BASE.jsonl, its stderr in BASE.log
  std::optional<double> timeLimitSeconds;  // stopped after this long, never earlier: a timeout
  std::optional<std::string> fileAsNamed;  // the child reads a copy: its start line names this file
};

// How a board ended.
struct BoardResult {
  Outcome outcome = Outcome::Failed;
  int exitCode = ExitStatusOf(Outcome::Failed);  // the child's; the outcome's when it never exited
  double seconds = 0;                            // its run's own time, else as the parent saw it
  std::string signature = "-";                   // the chip its identified line named
  std::string sha256;                            // of the file as the child read it
  nlohmann::ordered_json flashSha256 = nullptr, eepromSha256 = nullptr;
  bool logLost = false;  // its log files could not be written (a done board is then output-failed)
};

// A board's row in the closing result line's "boards", in the documented order.
nlohmann::ordered_json BoardJson(const std::string& port, const BoardResult& result);

class BoardSupervisor {
 public:
  // `onEvent`: one line of a board's child, without its "event" and "t". `onEnd`: the board
  // ended; called from the event loop, never from within Start.
  using EventHandler = std::function<void(const std::string& port, const std::string& event,
                                          const nlohmann::ordered_json& fields)>;
  using EndHandler = std::function<void(const std::string& port, const BoardResult& result)>;

  BoardSupervisor(CommandLoop& loop, std::string program, EventHandler onEvent, EndHandler onEnd);
  ~BoardSupervisor();
  BoardSupervisor(const BoardSupervisor&) = delete;
  BoardSupervisor& operator=(const BoardSupervisor&) = delete;

  // Starts a board's child; a port whose earlier child ended may start again.
  void Start(const BoardLaunch& launch);
  // SIGTERM (the child ends its run as quitting does), SIGKILL when it has not ended after a grace.
  void Stop(const std::string& port);
  void StopAll();
  int Running() const;

 private:
  struct Child;
  void Take(Child& child, std::string_view bytes);
  void Hand(Child& child, nlohmann::ordered_json event);
  void End(Child& child, std::optional<int> exitStatus);

  CommandLoop& loop_;
  std::string program_;
  EventHandler onEvent_;
  EndHandler onEnd_;
  std::map<std::string, std::unique_ptr<Child>> children_;
};

}  // namespace bm::cli
