// docs/architecture.md is the map of the house: its floor table says which folders each folder of
// src/ may include, and every path it names must exist. Both are held here against the tree, so
// the map cannot drift from the code.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "DocFiles.h"

namespace bm {
namespace {

namespace fs = std::filesystem;
using test::kRoot;
using test::Quoted;
using test::ReadText;

// The floor table: each folder under src/ (as "link", "platform/qt") and the folders it may
// include; "everything" for none.
struct Floors {
  std::map<std::string, std::set<std::string>> mayInclude;
  std::set<std::string> unbounded;

  // The folder of `path` (relative to src/) the table names: the longest that contains it.
  std::string FolderOf(const std::string& path) const {
    std::string best;
    for (const auto& [folder, allowed] : mayInclude)
      if ((path == folder || path.rfind(folder + "/", 0) == 0) && folder.size() > best.size()) best = folder;
    for (const std::string& folder : unbounded)
      if ((path == folder || path.rfind(folder + "/", 0) == 0) && folder.size() > best.size()) best = folder;
    return best;
  }
};

Floors ReadFloors(const std::string& doc) {
  Floors floors;
  std::istringstream lines(doc);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("| `src/", 0) != 0) continue;
    const size_t last = line.rfind('|', line.size() - 2);
    const std::string folder = Quoted(line).front().substr(4);  // without "src/"
    const std::string allowedCell = line.substr(last);
    if (allowedCell.find("everything") != std::string::npos) {
      floors.unbounded.insert(folder);
      continue;
    }
    std::set<std::string>& allowed = floors.mayInclude[folder];
    for (const std::string& other : Quoted(allowedCell)) allowed.insert(other);
  }
  return floors;
}

TEST(ArchitectureMap, EveryIncludeKeepsToItsFloor) {
  const Floors floors = ReadFloors(ReadText(kRoot / "docs/architecture.md"));
  ASSERT_GE(floors.mayInclude.size(), 8u) << "the floor table was read";
  static const std::regex include(R"re(#include "([a-z0-9_-]+(?:/[a-z0-9_-]+)*)/[^/"]+")re");
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kRoot / "src")) {
    const std::string ext = entry.path().extension().string();
    if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
    ++files;
    const std::string relative = fs::relative(entry.path().parent_path(), kRoot / "src").generic_string();
    const std::string folder = floors.FolderOf(relative);
    EXPECT_FALSE(folder.empty()) << "no floor names src/" << relative;
    if (floors.unbounded.count(folder)) continue;
    const std::set<std::string>& allowed = floors.mayInclude.at(folder);
    const std::string text = ReadText(entry.path());
    for (std::sregex_iterator it(text.begin(), text.end(), include), end; it != end; ++it) {
      const std::string target = floors.FolderOf((*it)[1]);
      if (target.empty() || target == folder) continue;  // a system or test header, or its own floor
      EXPECT_TRUE(allowed.count(target)) << entry.path().lexically_relative(kRoot).generic_string()
                                         << " includes from src/" << target << ", which its floor may not";
    }
  }
  EXPECT_GT(files, 100);
}

TEST(ArchitectureMap, EveryPathItNamesExists) {
  const std::string doc = ReadText(kRoot / "docs/architecture.md");
  int paths = 0;
  for (const std::string& piece : Quoted(doc)) {
    if (piece.rfind("src/", 0) != 0 && piece.rfind("tests/", 0) != 0 && piece.rfind("docs/", 0) != 0 &&
        piece.rfind("scripts/", 0) != 0)
      continue;
    ++paths;
    EXPECT_TRUE(fs::exists(kRoot / piece)) << piece;
  }
  EXPECT_GT(paths, 15);
}

}  // namespace
}  // namespace bm
