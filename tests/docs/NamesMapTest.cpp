// docs/names.md maps the documented names to the code: every name it lists must stand, as a word,
// in the file (or one of the files) its row names, so the map cannot drift from the sources.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "DocFiles.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using test::kRoot;
using test::Quoted;
using test::ReadText;

std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  size_t start = 1;
  for (size_t bar = row.find('|', start); bar != std::string::npos; bar = row.find('|', start)) {
    cells.push_back(row.substr(start, bar - start));
    start = bar + 1;
  }
  return cells;
}

// The files a "Where" cell names: `src/...` paths, a folder standing for every file in it.
std::vector<fs::path> FilesOf(const std::string& cell) {
  std::vector<fs::path> files;
  for (const std::string& piece : Quoted(cell)) {
    const fs::path path = kRoot / piece;
    if (fs::is_regular_file(path)) files.push_back(path);
    if (fs::is_directory(path))
      for (const auto& entry : fs::recursive_directory_iterator(path))
        if (entry.is_regular_file()) files.push_back(entry.path());
  }
  return files;
}

TEST(NamesMap, EveryListedNameStandsInTheFileItsRowNames) {
  std::ifstream in(kRoot / "docs/names.md");
  ASSERT_TRUE(in) << "docs/names.md";
  int rows = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("| `", 0) != 0) continue;
    const std::vector<std::string> cells = Cells(line);
    ASSERT_GE(cells.size(), 3u) << line;
    const std::vector<fs::path> files = FilesOf(cells.back());
    EXPECT_FALSE(files.empty()) << "no existing file named in: " << line;
    std::string text;
    for (const fs::path& file : files) text += ReadText(file);
    for (const std::string& name : Quoted(cells.front())) {
      ++rows;
      // "e..." stands for a family of names with that beginning.
      const bool family = name.size() > 3 && name.compare(name.size() - 3, 3, "...") == 0;
      const std::string stem = family ? name.substr(0, name.size() - 3) : name;
      const std::string escaped = std::regex_replace(stem, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
      const std::regex word("(^|[^A-Za-z0-9_])" + escaped + (family ? "[A-Za-z0-9_]+" : "") +
                            "($|[^A-Za-z0-9_])");
      EXPECT_TRUE(std::regex_search(text, word)) << "`" << name << "` is not in " << cells.back();
    }
  }
  EXPECT_GT(rows, 100) << "the map was read";
}

}  // namespace
}  // namespace bm
