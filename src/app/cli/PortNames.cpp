#include "app/cli/PortNames.h"

#include <filesystem>

#include "platform/posix/PosixLine.h"

namespace bm::cli {

std::string ResolvedPortName(const std::string& name) {
  if (name == "sim" || name.find('/') == std::string::npos) return name;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
  return ec ? name : absolute.lexically_normal().string();
}

std::string DeviceOf(const std::string& resolvedName) {
  if (resolvedName == "sim") return resolvedName;
  std::error_code ec;
  const std::filesystem::path file = posix::DeviceFile(resolvedName);
  const std::filesystem::path real = std::filesystem::canonical(file, ec);
  return ec ? file.string() : real.string();
}

}  // namespace bm::cli
