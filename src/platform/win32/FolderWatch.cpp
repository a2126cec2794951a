#include "platform/win32/FolderWatch.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <filesystem>

#include "platform/win32/Text.h"

namespace bm::win32 {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kFolderChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                 FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE |
                                 FILE_NOTIFY_CHANGE_ATTRIBUTES;

// Whether it is there, its size and its time: what tells a change of one file in its folder.
std::string StampOf(const fs::path& file) {
  std::error_code ec;
  if (!fs::exists(file, ec)) return "gone";
  const auto size = fs::file_size(file, ec);
  const auto time = fs::last_write_time(file, ec);
  return std::to_string(ec ? 0 : size) + ":" + std::to_string(time.time_since_epoch().count());
}

}  // namespace

FolderWatch::FolderWatch(Win32Loop& loop, std::function<void(const std::string&)> changed)
    : loop_(loop), changed_(std::move(changed)) {}

FolderWatch::~FolderWatch() {
  while (!entries_.empty()) Drop(entries_.begin()->first);
}

bool FolderWatch::Add(const std::string& path) {
  const fs::path file = fs::path(Wide(path));
  std::error_code ec;
  if (!fs::exists(file, ec)) return false;
  Entry entry;
  entry.path = path;
  entry.folder = fs::is_directory(file, ec);
  fs::path folder = entry.folder ? file : fs::absolute(file, ec).parent_path();
  HANDLE notification = ::FindFirstChangeNotificationW(folder.c_str(), FALSE, kFolderChanges);
  if (notification == INVALID_HANDLE_VALUE) return false;
  if (!entry.folder) entry.stamp = StampOf(file);
  entry.notification = notification;
  const int key = nextKey_++;
  entry.watch = loop_.Watch(notification, [this, key] { Changed(key); });
  entries_[key] = std::move(entry);
  return true;
}

bool FolderWatch::Watching(const std::string& path) const {
  for (const auto& [key, entry] : entries_)
    if (entry.path == path) return true;
  return false;
}

void FolderWatch::Drop(int key) {
  const auto it = entries_.find(key);
  if (it == entries_.end()) return;
  loop_.Unwatch(it->second.watch);
  ::FindCloseChangeNotification(it->second.notification);
  entries_.erase(it);
}

void FolderWatch::Changed(int key) {
  const auto it = entries_.find(key);
  if (it == entries_.end()) return;
  Entry& entry = it->second;
  const std::string path = entry.path;
  const fs::path file = fs::path(Wide(path));
  std::error_code ec;
  bool report = true;
  if (!::FindNextChangeNotification(entry.notification) || !fs::exists(file, ec)) {
    Drop(key);  // removed (or its folder was): no longer watched
  } else if (!entry.folder) {
    // Some other entry of its folder changed, or it did.
    const std::string stamp = StampOf(file);
    report = stamp != entry.stamp;
    entry.stamp = stamp;
  }
  if (report) changed_(path);
}

std::string NearestExistingFolder(const std::string& dir) {
  std::error_code ec;
  fs::path path = fs::absolute(fs::path(Wide(dir)), ec).lexically_normal();
  while (!fs::exists(path, ec)) {
    if (!path.has_relative_path()) return {};
    path = path.parent_path();
  }
  return fs::is_directory(path, ec) ? Utf8(path.wstring()) : std::string();
}

}  // namespace bm::win32
