#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "app/cli/System.h"
#include "platform/posix/PosixLine.h"

namespace bm::cli {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  ::localtime_r(&t, &local);
  return local;
}

std::optional<std::string> MakePrivateFolder() {
  char pattern[] = "/tmp/brindlemark-station-XXXXXX";
  const char* dir = ::mkdtemp(pattern);
  if (!dir) return std::nullopt;
  return std::string(dir);
}

std::string PortDevice(const std::string& name) { return posix::DeviceFile(name); }

std::string RealDevice(const std::string& device) {
  std::error_code ec;
  const std::filesystem::path real = std::filesystem::canonical(device, ec);
  return ec ? device : real.string();
}

bool PortPresent(const std::string& name) {
  std::error_code ec;
  return std::filesystem::exists(posix::DeviceFile(name), ec);
}

std::string PortFolder(const std::string& name) {
  const std::filesystem::path file = posix::DeviceFile(name);
  return file.has_parent_path() ? file.parent_path().string() : std::string(".");
}

bool PortsAppearInFolders() { return true; }

FileFacts FactsOf(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Facts(FileFacts::Kind::Missing);
    if (errno == EACCES) return Facts(FileFacts::Kind::Denied);
    return Facts(FileFacts::Kind::Unknown, 0, std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) return Facts(FileFacts::Kind::Directory);
  if (!S_ISREG(st.st_mode)) return Facts(FileFacts::Kind::NotRegular);
  return Facts(FileFacts::Kind::Regular, static_cast<uint64_t>(st.st_size));
}

bool MayRead(const std::string& file) { return ::access(file.c_str(), R_OK) == 0; }

std::optional<std::string> WhyNotWritable(const std::string& dir) {
  if (::access(dir.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
  return std::nullopt;
}

}  // namespace bm::cli
