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

std::FILE* OpenForReading(const std::filesystem::path& file) {
#ifdef _WIN32
  return ::_wfopen(file.c_str(), L"rb");
#else
  return std::fopen(file.c_str(), "rb");
#endif
}

}  // namespace bm
