#include "platform/posix/PosixLine.h"

#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace bm::posix {

void Drain(int fd) { ::tcdrain(fd); }

SerialFlagsIo DriverSerialFlags() {
  return {[](int fd) -> std::optional<int> {
            serial_struct serial{};
            if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return std::nullopt;
            return serial.flags;
          },
          [](int fd, int flags) {
            serial_struct serial{};
            if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return false;
            serial.flags = flags;
            return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
          }};
}

int LowLatencyFlag() { return ASYNC_LOW_LATENCY; }

std::optional<int> SetLowLatency(int fd, const SerialFlagsIo& io) {
  const std::optional<int> before = io.get(fd);
  if (!before) return std::nullopt;
  if (*before & ASYNC_LOW_LATENCY) return before;
  if (!io.set(fd, *before | ASYNC_LOW_LATENCY)) return std::nullopt;
  return before;
}

void RestoreSerialFlags(int fd, int flags, const SerialFlagsIo& io) {
  const std::optional<int> now = io.get(fd);
  if (!now || *now == flags) return;
  io.set(fd, flags);
}

InputState LookForInput(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return {};
  return {(p.revents & POLLIN) != 0, (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0};
}

std::string StableName(const std::string& device, const std::string& folder) {
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::canonical(DeviceFile(device), ec);
  if (ec) return {};
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::error_code linkError;
    if (std::filesystem::canonical(entry.path(), linkError) == target && !linkError)
      return entry.path().string();
  }
  return {};
}

std::string DeviceFile(const std::string& device) {
  // A name with a slash is a path (relative ones from the current folder); a bare one is in /dev.
  return device.find('/') != std::string::npos ? device : "/dev/" + device;
}

int AccessError(const std::string& file) { return ::access(file.c_str(), R_OK | W_OK) == 0 ? 0 : errno; }

std::string JoinableGroup(unsigned gid, unsigned mode, const std::string& groupName) {
  const bool groupMayUse = (mode & S_IRGRP) && (mode & S_IWGRP);
  if (!groupMayUse || gid == 0 || groupName.empty() || groupName == "root") return {};
  return groupName;
}

namespace {

std::string ModeText(unsigned mode) {
  std::string text = S_ISCHR(mode) ? "c" : S_ISBLK(mode) ? "b" : "-";
  const char* letters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) text += (mode & (0400u >> bit)) ? letters[bit] : '-';
  return text;
}

}  // namespace

DeviceAccess AccessOf(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return {};
  const struct group* g = ::getgrgid(st.st_gid);
  const std::string group = g ? g->gr_name : std::to_string(st.st_gid);
  const struct passwd* u = ::getpwuid(st.st_uid);
  const std::string user = u ? u->pw_name : std::to_string(st.st_uid);
  return {JoinableGroup(st.st_gid, st.st_mode, group), user + ":" + group + ", " + ModeText(st.st_mode)};
}

}  // namespace bm::posix
