// The event loop of a program without a window (the command-line tool): the reply waits and
// yields of EventLoop, plus what its commands wait for — timers, child processes and their
// output, and Ctrl-C or SIGTERM. Everything runs on one thread; each callback runs from a turn
// of the loop (Run, a reply-wait pass or a yield), never from a signal handler.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EventLoop.h"

namespace bm {

// A child process started by the loop. It leads a process group of its own (a Ctrl-C at the
// terminal reaches only its parent) and ends when its parent dies.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  // Asks it to end (SIGTERM; the child ends its run as quitting does).
  virtual void Terminate() = 0;
  // Ends it at once.
  virtual void Kill() = 0;
  virtual bool Running() const = 0;
};

struct ChildEvents {
  std::function<void(std::string_view bytes)> output;  // its stdout, as it comes
  std::function<void(std::string_view bytes)> errors;  // its stderr, as it comes
  // It ended: its exit status when it exited on its own, none when a signal ended it or it
  // could not start (then `cannotStart` says why; empty otherwise). Called once, after the last
  // of its output; the one callback that may destroy the ChildProcess.
  std::function<void(std::optional<int> exitStatus, const std::string& cannotStart)> ended;
};

class CommandLoop : public EventLoop {
 public:
  using TimerId = int;

  // Runs callbacks until Quit() (a Quit before Run makes Run return at once, once).
  virtual void Run() = 0;
  virtual void Quit() = 0;

  // Calls `fire` once, `delay` from now; never earlier.
  virtual TimerId After(std::chrono::milliseconds delay, std::function<void()> fire) = 0;
  virtual void Cancel(TimerId timer) = 0;

  // What Ctrl-C or SIGTERM does: called at the next turn after each one. The signals are caught
  // from the program's start (InstallInterruptHandlers); one that came before a handler was set
  // is handed to it at once when it is set.
  virtual void OnInterrupt(std::function<void()> handler) = 0;

  // Starts `program` with `args` (without the program name). Its stdin is empty; its events come
  // from turns of this loop.
  virtual std::unique_ptr<ChildProcess> Start(const std::string& program,
                                              const std::vector<std::string>& args, ChildEvents events) = 0;
};

// Catches Ctrl-C and SIGTERM from now until the program exits (they are noted, never acted on
// in the handler) and makes a write to a closed pipe an error of the write instead of the death
// of the program. Called first thing in main().
void InstallInterruptHandlers();
// Whether Ctrl-C or SIGTERM arrived since InstallInterruptHandlers.
bool InterruptReceived();

// The path of the program that is running, to start children of the same program.
std::string ThisProgramPath();

// The program's arguments after its name: on POSIX the bytes given; on Windows UTF-8, read from
// the wide command line (main's own are in the ANSI code page there), and the console set to
// show UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace bm
