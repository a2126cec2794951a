#include "app/cli/FileCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace bm::cli {

std::optional<std::string> WhyNotLoadable(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "no such file";
    if (errno == EACCES) return "permission denied";
    return std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return "is a directory";
  if (!S_ISREG(st.st_mode)) return "is not a regular file (a pipe, a device or a socket)";
  if (::access(file.c_str(), R_OK) != 0) return "permission denied";
  return std::nullopt;
}

std::optional<std::string> WhyNoLogs(const std::string& dir) {
  std::error_code ec;
  if (std::filesystem::exists(dir, ec) && !std::filesystem::is_directory(dir, ec)) return "not a directory";
  std::filesystem::create_directories(dir, ec);
  if (ec) return ec.message();
  if (::access(dir.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
  return std::nullopt;
}

std::optional<std::string> LogDirRefusal(const std::string& command, const std::optional<std::string>& dir) {
  if (!dir) return std::nullopt;
  const std::optional<std::string> why = WhyNoLogs(*dir);
  if (!why) return std::nullopt;
  return command + ": cannot keep logs in '" + *dir + "': " + *why;
}

}  // namespace bm::cli
