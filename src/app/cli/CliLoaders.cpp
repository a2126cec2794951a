// brindlemark-cli loaders: the loader images that come with the program, for installing on a blank
// chip with an ISP programmer (docs/loader.md). They lie in share/brindlemark/loaders beside the
// installed program (in loaders\ of the program's own folder on Windows), or in loaders/ of the
// build tree when it runs from there.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "base/FileOpen.h"
#include "platform/CommandLoop.h"

namespace bm::cli {
namespace {

namespace fs = std::filesystem;

fs::path ProgramFolder() {
  const std::string self = ThisProgramPath();
  return self.empty() ? fs::path() : PathFromName(self).parent_path();
}

// The build tree's loaders/ first (a program run from build/bin), then the installed folder: on
// Windows the installer puts it beside the program.
std::optional<fs::path> LoaderFolder() {
  const fs::path bin = ProgramFolder();
  for (const fs::path& folder :
       {bin / ".." / "loaders", bin / "loaders", bin / ".." / "share" / "brindlemark" / "loaders"}) {
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return fs::weakly_canonical(folder, ec);
  }
  return std::nullopt;
}

// The data bytes of an Intel HEX file: what the loader takes of the chip's flash.
int64_t ImageBytes(const fs::path& hex) {
  std::ifstream in(hex);
  int64_t bytes = 0;
  for (std::string line; std::getline(in, line);)
    if (line.size() >= 9 && line[0] == ':' && line.compare(7, 2, "00") == 0)
      bytes += std::stoi(line.substr(1, 2), nullptr, 16);
  return bytes;
}

}  // namespace

int Loaders(const CommandLine& line) {
  const std::optional<fs::path> folder = LoaderFolder();
  if (!folder) {
    std::cerr << "loaders: no loader images found (looked beside the program for loaders/ and "
                 "share/brindlemark/loaders/)\n";
    return kExitNotLoaded;
  }
  const std::regex name(R"(brindlemark-loader-(atmega\w+)-(\d+)mhz-(\d+)\.hex)");
  struct Row {
    std::string mcu;
    int mhz;
    long baud;
    int64_t bytes;
    fs::path path;
  };
  std::vector<Row> rows;
  for (const auto& entry : fs::directory_iterator(*folder)) {
    std::smatch m;
    const std::string file = entry.path().filename().string();
    if (std::regex_match(file, m, name))
      rows.push_back({m[1], std::stoi(m[2]), std::stol(m[3]), ImageBytes(entry.path()), entry.path()});
  }
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return std::tie(a.mcu, a.mhz, a.baud) < std::tie(b.mcu, b.mhz, b.baud);
  });
  EventLog log(std::cout, line.json);
  if (!line.json) std::printf("%-12s %5s %8s %6s  %s\n", "chip", "MHz", "baud", "bytes", "path");
  for (const Row& r : rows) {
    if (line.json)
      log.Emit("loader", {{"mcu", r.mcu},
                          {"mhz", r.mhz},
                          {"baud", r.baud},
                          {"bytes", r.bytes},
                          {"path", NameFromPath(r.path)}});
    else
      std::printf("%-12s %5d %8ld %6lld  %s\n", r.mcu.c_str(), r.mhz, r.baud, static_cast<long long>(r.bytes),
                  NameFromPath(r.path).c_str());
  }
  std::fflush(stdout);
  return rows.empty() ? kExitNotLoaded : kExitDone;
}

}  // namespace bm::cli
