#include "shell/core/FileStamp.h"

#include <string>
#include <system_error>

#include "base/Sha256.h"
#include "images/TextFile.h"

namespace bm {

FileStamp StampOf(const std::filesystem::path& path, const FileSeen* seen) {
  FileStamp stamp;
  stamp.path = path;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return stamp;
  stamp.exists = true;
  stamp.modified = std::filesystem::last_write_time(path, ec);
  if (seen) {
    stamp.size = seen->size;
    stamp.sha256 = seen->sha256;
    return stamp;
  }
  stamp.size = std::filesystem::file_size(path, ec);
  // A file too large for the readers has no hash: its size and time still tell a change.
  if (const std::optional<std::string> content = TextFile::ReadAll(path)) stamp.sha256 = Sha256Hex(*content);
  return stamp;
}

const FileStamp* FirstChanged(const std::vector<FileStamp>& stamps) {
  for (const FileStamp& stamp : stamps)
    if (StampOf(stamp.path) != stamp) return &stamp;
  return nullptr;
}

}  // namespace bm
