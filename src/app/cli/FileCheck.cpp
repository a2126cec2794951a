#include "app/cli/FileCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "images/TextFile.h"

namespace bm::cli {

namespace {

std::string MiB(uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB"; }

// A file far larger than any image is refused before a byte of it is read: reading it would
// take seconds to minutes, or end in an allocation failure.
std::optional<std::string> WhyTooLarge(const std::string& file, uint64_t bytes, bool named) {
  if (bytes <= kMaxFileBytes) return std::nullopt;
  return std::string(named ? "" : "its " + std::filesystem::path(file).filename().string() + " ") + "is " +
         MiB(bytes) + ", larger than any image can be (at most " + MiB(kMaxFileBytes) + "); nothing was read";
}

}  // namespace

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
  if (auto why = WhyTooLarge(file, static_cast<uint64_t>(st.st_size), true)) return why;
  // A project reads the .hex and .eep beside it.
  if (TextFile::EndsWithNoCase(file, ".ppro")) {
    for (const char* ext : {".hex", ".eep"}) {
      const std::string image = std::filesystem::path(file).replace_extension(ext).string();
      struct stat imageStat {};
      if (::stat(image.c_str(), &imageStat) != 0) continue;
      if (auto why = WhyTooLarge(image, static_cast<uint64_t>(imageStat.st_size), false)) return why;
    }
  }
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
