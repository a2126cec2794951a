// Tells when a watched file or folder changes, through the system's change notifications
// (FindFirstChangeNotificationW), never by polling: `changed` gets the watched path (for a
// folder: an entry came, went or was written; for a file: it was written, replaced or removed —
// its folder is watched and the file's size and time tell whether it was the one that changed).
// A watched path that is removed is no longer watched (Watching says so) and may be added again.
// The same interface as posix::FolderWatch.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "platform/win32/Win32Loop.h"

namespace bm::win32 {

class FolderWatch {
 public:
  FolderWatch(Win32Loop& loop, std::function<void(const std::string& path)> changed);
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // False when it cannot be watched (it does not exist, or the system refused).
  bool Add(const std::string& path);
  bool Watching(const std::string& path) const;

 private:
  struct Entry {
    std::string path;
    bool folder = false;
    void* notification = nullptr;  // the change notification's HANDLE
    Win32Loop::WatchId watch = 0;
    std::string stamp;  // a file's size and time when last looked at
  };
  void Changed(int key);
  void Drop(int key);

  Win32Loop& loop_;
  std::function<void(const std::string&)> changed_;
  std::map<int, Entry> entries_;
  int nextKey_ = 1;
};

// The folder to watch for `dir` to appear: `dir` itself when it is a folder, else the nearest
// existing parent. Empty when `dir` exists but is not a folder (or nothing of it exists).
std::string NearestExistingFolder(const std::string& dir);

}  // namespace bm::win32
