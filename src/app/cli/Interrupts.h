// Ctrl-C and SIGTERM for the command-line tool: the signal is only noted in its handler and
// handed to the program at the next event-loop turn (a run's reply waits and yields are such
// turns), where `onSignal` ends the run as quitting does.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace bm::cli {

class Interrupts {
 public:
  explicit Interrupts(std::function<void()> onSignal);
  ~Interrupts();
  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;

  // Whether SIGINT or SIGTERM arrived since the program started.
  static bool Received();

 private:
  std::function<void()> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace bm::cli
