#include "shell/core/FileStamp.h"

#include <functional>
#include <string>
#include <string_view>
#include <system_error>

#include "images/TextFile.h"

namespace bm {

FileStamp StampOf(const std::filesystem::path& path, const std::string* readBytes) {
  FileStamp stamp;
  stamp.path = path;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return stamp;
  stamp.exists = true;
  stamp.modified = std::filesystem::last_write_time(path, ec);
  if (readBytes) {
    stamp.size = readBytes->size();
    stamp.contentHash = std::hash<std::string_view>{}(*readBytes);
    return stamp;
  }
  stamp.size = std::filesystem::file_size(path, ec);
  // A file too large for the readers has no hash: its size and time still tell a change.
  if (const std::optional<std::string> content = TextFile::ReadAll(path))
    stamp.contentHash = std::hash<std::string_view>{}(*content);
  return stamp;
}

const FileStamp* FirstChanged(const std::vector<FileStamp>& stamps) {
  for (const FileStamp& stamp : stamps)
    if (StampOf(stamp.path) != stamp) return &stamp;
  return nullptr;
}

}  // namespace bm
