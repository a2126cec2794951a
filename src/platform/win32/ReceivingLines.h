// The open serial lines of this process, for the event loops on Windows: a reply wait ends early
// when bytes arrive on a line, whichever loop runs it (the command line's, the window's message
// loop). A port adds an event it signals when bytes arrive (or the device fails) when it opens,
// and removes it before it closes; `pull` moves the bytes the system holds into the port's own
// buffer and resets the event. Everything runs on the program's one thread; the event is a
// Win32 HANDLE, held here as void* so that no header of ours includes <windows.h>.
#pragma once

#include <functional>
#include <vector>

namespace bm::win32 {

struct ReceivingLine {
  void* event = nullptr;  // HANDLE
  std::function<void()> pull;
};

void AddReceivingLine(void* event, std::function<void()> pull);
void RemoveReceivingLine(void* event);
// A copy: a pull may close its port, which changes the list.
std::vector<ReceivingLine> ReceivingLines();

}  // namespace bm::win32
