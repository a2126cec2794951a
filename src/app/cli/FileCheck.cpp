#include "app/cli/FileCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace bm::cli
