#include "app/cli/PortNames.h"

#include <filesystem>

#include "app/cli/System.h"

namespace bm::cli {

std::string ResolvedPortName(const std::string& name) {
  if (name == "sim" || name.find('/') == std::string::npos) return name;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(name, ec);
  return ec ? name : absolute.lexically_normal().string();
}

std::string DeviceOf(const std::string& resolvedName) {
  if (resolvedName == "sim") return resolvedName;
  return RealDevice(PortDevice(resolvedName));
}

}  // namespace bm::cli
