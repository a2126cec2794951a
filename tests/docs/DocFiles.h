// What the documentation tests share: the source tree's root, a whole file as text, and the
// `quoted` pieces of a text.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace bm::test {

inline const std::filesystem::path kRoot = BM_SOURCE_DIR;

inline std::string ReadText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> Quoted(const std::string& text) {
  static const std::regex quoted("`([^`]+)`");
  std::vector<std::string> pieces;
  for (std::sregex_iterator it(text.begin(), text.end(), quoted), end; it != end; ++it)
    pieces.push_back((*it)[1]);
  return pieces;
}

}  // namespace bm::test
