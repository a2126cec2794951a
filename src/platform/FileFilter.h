// The file-open dialog's filter, the same on every system: all supported files first, then one
// entry a kind in plain words with its patterns, then all files. Each system's dialog writes the
// entries in its own form (Qt: "Label (patterns);;...", Windows: label and patterns in pairs).
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>
#include <vector>

#include "platform/Dialogs.h"

namespace bm {

// "*.hex<separator>*.pac": each extension once, in lower case (the dialogs match either case).
inline std::string FilePatterns(const FileKind& kind, char separator) {
  std::string patterns;
  std::vector<std::string> seen;
  for (std::string ext : kind.extensions) {
    for (char& ch : ext) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (std::find(seen.begin(), seen.end(), ext) != seen.end()) continue;
    seen.push_back(ext);
    if (!patterns.empty()) patterns += separator;
    patterns += "*." + ext;
  }
  return patterns;
}

// The entries as {label, patterns}: "All supported files (*.hex *.eep)", each kind named by its
// description ("Intel HEX flash image (*.hex)"; a kind without extensions has no entry), and
// "All files (" + allFiles + ")" last.
inline std::vector<std::pair<std::string, std::string>> FileFilter(const std::vector<FileKind>& kinds,
                                                                   char separator,
                                                                   const std::string& allFiles) {
  std::vector<std::pair<std::string, std::string>> filter;
  std::string all;
  for (const FileKind& kind : kinds) {
    const std::string patterns = FilePatterns(kind, separator);
    if (patterns.empty()) continue;
    all += (all.empty() ? "" : std::string(1, separator)) + patterns;
    const std::string& name = kind.description.empty() ? kind.name : kind.description;
    filter.emplace_back(name + " (" + patterns + ")", patterns);
  }
  if (!all.empty()) filter.insert(filter.begin(), {"All supported files (" + all + ")", all});
  filter.emplace_back("All files (" + allFiles + ")", allFiles);
  return filter;
}

}  // namespace bm
