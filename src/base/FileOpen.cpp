#include "base/FileOpen.h"

namespace bm {

std::filesystem::path PathFromName(const std::string& name) {
#ifdef _WIN32
  // A narrow path there is converted byte by byte from the ANSI code page: "Jürgen" in UTF-8
  // would become two wrong characters. The name is UTF-8.
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
#else
  return std::filesystem::path(name);  // the bytes as given, valid UTF-8 or not
#endif
}

std::string NameFromPath(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
#else
  return path.string();
#endif
}

std::FILE* OpenForReading(const std::filesystem::path& file) {
#ifdef _WIN32
  return ::_wfopen(file.c_str(), L"rb");
#else
  return std::fopen(file.c_str(), "rb");
#endif
}

}  // namespace bm
