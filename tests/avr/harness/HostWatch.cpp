#include "HostWatch.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace avrchip {
namespace {

// The search walks every process's open files: a few milliseconds, so not on every pass.
constexpr auto kSearchEvery = std::chrono::milliseconds(50);

bool isNumber(const char *text) {
  for (const char *c = text; *c; ++c)
    if (*c < '0' || *c > '9') return false;
  return *text != '\0';
}

// Whether process `pid` has `path` open.
bool holds(const char *pid, const std::string &path) {
  const std::string fdDir = std::string("/proc/") + pid + "/fd";
  DIR *dir = opendir(fdDir.c_str());
  if (!dir) return false;
  bool found = false;
  char target[256];
  while (dirent *entry = readdir(dir)) {
    if (!isNumber(entry->d_name)) continue;
    const std::string link = fdDir + "/" + entry->d_name;
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && size_t(n) == path.size() && std::memcmp(target, path.data(), path.size()) == 0) {
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

}  // namespace

HostWatch::~HostWatch() { forget(); }

void HostWatch::forget() {
  if (statFd_ >= 0) close(statFd_);
  if (schedFd_ >= 0) close(schedFd_);
  statFd_ = schedFd_ = -1;
  pid_ = -1;
  wasRunnable_ = false;
}

void HostWatch::find(std::chrono::steady_clock::time_point now) {
  if (now - lastSearch_ < kSearchEvery) return;
  lastSearch_ = now;
  DIR *proc = opendir("/proc");
  if (!proc) return;
  const pid_t self = getpid();
  while (dirent *entry = readdir(proc)) {
    if (!isNumber(entry->d_name) || std::atoi(entry->d_name) == self) continue;
    if (!holds(entry->d_name, ptyPath_)) continue;
    const std::string dir = std::string("/proc/") + entry->d_name;
    statFd_ = open((dir + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    schedFd_ = open((dir + "/schedstat").c_str(), O_RDONLY | O_CLOEXEC);
    if (statFd_ >= 0 && schedFd_ >= 0)
      pid_ = std::atoi(entry->d_name);
    else
      forget();  // a kernel without scheduler statistics: the clock runs as the wall clock
    break;
  }
  closedir(proc);
}

bool HostWatch::look(unsigned long long &slices) {
  char text[512];
  ssize_t n = pread(statFd_, text, sizeof text - 1, 0);
  if (n <= 0) {
    forget();  // the host has ended
    return false;
  }
  text[n] = '\0';
  // "pid (name) S ...": the name may hold spaces and parentheses, the state follows the last ")".
  const char *close = std::strrchr(text, ')');
  const bool runnable = close && close[1] == ' ' && close[2] == 'R';
  // "run time, time waited on a run queue, time slices", in that order.
  n = pread(schedFd_, text, sizeof text - 1, 0);
  if (n <= 0) {
    forget();
    return false;
  }
  text[n] = '\0';
  unsigned long long run = 0, waited = 0;
  if (std::sscanf(text, "%llu %llu %llu", &run, &waited, &slices) != 3) return false;
  return runnable;
}

std::chrono::steady_clock::duration HostWatch::held(std::chrono::steady_clock::time_point now,
                                                    bool hostConnected) {
  const auto since =
      last_ == std::chrono::steady_clock::time_point{} ? std::chrono::steady_clock::duration{} : now - last_;
  last_ = now;
  if (!hostConnected) {
    forget();
    return {};
  }
  if (pid_ < 0) find(now);
  if (pid_ < 0) return {};
  unsigned long long slices = 0;
  const bool runnable = look(slices);
  const bool heldAllAlong = runnable && wasRunnable_ && slices == slices_;
  wasRunnable_ = runnable;
  slices_ = slices;
  if (!heldAllAlong) return {};
  total_ += since;
  return since;
}

}  // namespace avrchip
