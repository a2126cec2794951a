#include "platform/posix/FolderWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

namespace bm::posix {

FolderWatch::FolderWatch(PollLoop& loop, std::function<void(const std::string&)> changed)
    : loop_(loop), changed_(std::move(changed)) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ >= 0) watch_ = loop_.WatchInput(fd_, [this] { Read(); });
}

FolderWatch::~FolderWatch() {
  if (watch_) loop_.Unwatch(watch_);
  if (fd_ >= 0) ::close(fd_);
}

bool FolderWatch::Add(const std::string& path) {
  if (fd_ < 0) return false;
  constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                               IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
  const int wd = ::inotify_add_watch(fd_, path.c_str(), kEvents);
  if (wd < 0) return false;
  paths_[wd] = path;
  return true;
}

bool FolderWatch::Watching(const std::string& path) const {
  for (const auto& [wd, watched] : paths_)
    if (watched == path) return true;
  return false;
}

void FolderWatch::Read() {
  alignas(inotify_event) char buffer[8192];
  std::vector<std::string> changed;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      const auto it = paths_.find(event->wd);
      if (it == paths_.end()) continue;
      changed.push_back(it->second);
      // Removed, renamed or unmounted: the system dropped the watch.
      if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) {
        if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) ::inotify_rm_watch(fd_, event->wd);
        paths_.erase(it);
      }
    }
  }
  // One call per path, in order, after the whole batch is read: a rebuild writes many events.
  std::vector<std::string> once;
  for (const std::string& path : changed)
    if (std::find(once.begin(), once.end(), path) == once.end()) once.push_back(path);
  for (const std::string& path : once) changed_(path);
}

std::string NearestExistingFolder(const std::string& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path path = fs::absolute(dir, ec).lexically_normal();
  if (fs::exists(path, ec)) return fs::is_directory(path, ec) ? path.string() : std::string();
  while (path.has_relative_path()) {
    path = path.parent_path();
    if (fs::exists(path, ec)) return fs::is_directory(path, ec) ? path.string() : std::string();
  }
  return fs::is_directory(path, ec) ? path.string() : std::string();
}

}  // namespace bm::posix
