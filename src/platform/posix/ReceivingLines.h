// The open serial lines of this process, for the event loops: a reply wait ends early when bytes
// arrive on a line, whichever loop runs it (the command line's poll loop, the window's Qt loop).
// A port adds its descriptor when it opens and removes it when it closes; `pull` moves the bytes
// the system holds into the port's own buffer (so the descriptor is no longer readable) and notes
// a hang-up. Everything runs on one thread.
#pragma once

#include <functional>
#include <vector>

namespace bm::posix {

struct ReceivingLine {
  int fd = -1;
  std::function<void()> pull;
};

void AddReceivingLine(int fd, std::function<void()> pull);
void RemoveReceivingLine(int fd);
// Called with the descriptor of each line removed, before its port closes it, so an event loop
// watching the line stops in time (a descriptor closed under a watch is an error to most loops,
// and its number may come back for another file). One hook at a time; empty for none.
void SetLineRemovedHook(std::function<void(int fd)> hook);
// A copy: a pull may close its port, which changes the list.
std::vector<ReceivingLine> ReceivingLines();

}  // namespace bm::posix
