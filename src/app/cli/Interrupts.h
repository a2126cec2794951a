// What Ctrl-C and SIGTERM do while a command runs. The signals are caught from the program's
// start (main calls InstallInterruptHandlers) to its exit: each is noted and handed to
// `onSignal` at the loop's next turn (a run's reply waits and yields are such turns). A signal
// outside this object's life only marks the program as interrupted (Received).
#pragma once

#include <functional>

#include "platform/CommandLoop.h"

namespace bm::cli {

class Interrupts {
 public:
  Interrupts(CommandLoop& loop, std::function<void()> onSignal) : loop_(loop) {
    loop_.OnInterrupt(std::move(onSignal));
  }
  ~Interrupts() { loop_.OnInterrupt(nullptr); }
  Interrupts(const Interrupts&) = delete;
  Interrupts& operator=(const Interrupts&) = delete;

  // Whether Ctrl-C or SIGTERM arrived since the program started.
  static bool Received() { return InterruptReceived(); }

 private:
  CommandLoop& loop_;
};

}  // namespace bm::cli
