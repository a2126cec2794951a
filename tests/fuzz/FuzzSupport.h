// What the fuzz targets share: an event loop that does nothing, and a scratch file
// per process for the readers that take a path.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/Diagnostic.h"
#include "platform/EventLoop.h"

namespace bm::fuzz {

class NoEvents : public EventLoop {
 public:
  void processEvents(int) override {}
  void yield() override {}
};

// A folder of this process's own under the temporary folder.
inline const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("bm-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

inline std::string WriteScratch(const std::string& name, const uint8_t* data, size_t size) {
  const auto path = ScratchDir() / name;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path.string();
}

}  // namespace bm::fuzz
