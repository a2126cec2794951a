// Ctrl-C and SIGTERM on POSIX: the handler notes the signal and writes a byte to a pipe the loop
// watches (the only async-signal-safe way to wake it); SIGPIPE is ignored, so a write to a closed
// pipe fails with EPIPE and the program decides what that means.
#pragma once

namespace bm::posix {

// The end of the interrupt pipe the loop polls; -1 before InstallInterruptHandlers.
int InterruptFd();
// Empties the pipe; returns how many signals it carried.
int DrainInterruptFd();

}  // namespace bm::posix
