// What a file was when a load read it: enough to tell later, before a run writes its image,
// whether the file changed on disk since (the usual loop is edit, build, download).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace bm {

struct FileStamp {
  std::filesystem::path path;
  bool exists = false;  // a project's .eep may be missing, and appear later
  uintmax_t size = 0;
  std::filesystem::file_time_type modified{};
  size_t contentHash = 0;  // of the whole content; a touch that changes no byte still counts

  bool operator==(const FileStamp&) const = default;
};

// The file as it is now; with `readBytes`, as it was when a reader read those bytes from it (its
// size and hash are theirs, so a file rebuilt since still counts as changed).
FileStamp StampOf(const std::filesystem::path& path, const std::string* readBytes = nullptr);

// The first of `stamps` whose file is no longer as stamped, or nullptr.
const FileStamp* FirstChanged(const std::vector<FileStamp>& stamps);

}  // namespace bm
