// Ctrl-C on Windows: the console's control handler (Ctrl-C, Ctrl-Break, the console window
// closed, log-off, shut-down) notes the event and sets an event the loop waits on; the handler
// runs on a thread of the system's, never the loop's.
//
// A child that gang or station started gets its parent's stop request through a named event
// (its name in BRINDLEMARK_STOP_EVENT, taken out of the environment at once so that it reaches
// no grandchild): a stop request counts as a Ctrl-C, and the console's own Ctrl-C and Ctrl-Break
// are its parent's to act on, not the child's. This is how ChildProcess::Terminate reaches a
// child on Windows, which has no SIGTERM, and it needs no shared console (under wine, and for a
// parent without one, GenerateConsoleCtrlEvent reaches nobody).
#pragma once

namespace bm::win32 {

inline constexpr const wchar_t* kStopEventVariable = L"BRINDLEMARK_STOP_EVENT";

// The event set at each interrupt (auto-reset); null before InstallInterruptHandlers.
void* InterruptEvent();
// How many interrupts came since the last call.
int TakeInterrupts();
// What the console's handler does with control event `type` (CTRL_C_EVENT, ...): true when it
// was taken. Called by the system on its own thread; a test calls it as the system would.
bool NoteConsoleControl(unsigned long type);

}  // namespace bm::win32
