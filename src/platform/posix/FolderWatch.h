// Tells when a watched file or folder changes, through the system's file notifications
// (inotify), never by polling: `changed` gets the watched path (for a folder: an entry came,
// went or was written; for a file: it was written, replaced or removed). A watched path that is
// removed or renamed is no longer watched (Watching says so) and may be added again.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/posix/PollLoop.h"

namespace bm::posix {

class FolderWatch {
 public:
  FolderWatch(PollLoop& loop, std::function<void(const std::string& path)> changed);
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // False when it cannot be watched (it does not exist, or the system refused).
  bool Add(const std::string& path);
  bool Watching(const std::string& path) const;

 private:
  void Read();

  PollLoop& loop_;
  std::function<void(const std::string&)> changed_;
  int fd_ = -1;
  PollLoop::WatchId watch_ = 0;
  std::map<int, std::string> paths_;  // by watch descriptor
};

// The folder to watch for `dir` to appear: `dir` itself when it is a folder, else the nearest
// existing parent. Empty when `dir` exists but is not a folder (or nothing of it exists).
std::string NearestExistingFolder(const std::string& dir);

}  // namespace bm::posix
