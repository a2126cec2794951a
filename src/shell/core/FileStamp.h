// What a file was when a load read it: enough to tell later, before a run writes its image,
// whether the file changed on disk since (the usual loop is edit, build, download).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "images/Images.h"

namespace bm {

struct FileStamp {
  std::filesystem::path path;
  bool exists = false;  // a project's .eep may be missing, and appear later
  uintmax_t size = 0;
  std::filesystem::file_time_type modified{};
  std::string sha256;  // of the whole content; a touch that changes no byte still counts

  bool operator==(const FileStamp&) const = default;
};

// The file as it is now; with `seen`, as it was when a reader read it (its size and hash are
// those of the bytes the reader used, so a file rebuilt since still counts as changed).
FileStamp StampOf(const std::filesystem::path& path, const FileSeen* seen = nullptr);

// The first of `stamps` whose file is no longer as stamped, or nullptr.
const FileStamp* FirstChanged(const std::vector<FileStamp>& stamps);

}  // namespace bm
