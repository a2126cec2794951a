#include "images/FileReads.h"

namespace bm {
namespace {

thread_local FileReads* innermost = nullptr;

}  // namespace

FileReads::FileReads() : outer_(innermost) { innermost = this; }

FileReads::~FileReads() { innermost = outer_; }

const std::string* FileReads::BytesOf(const std::filesystem::path& path) const {
  for (auto it = reads_.rbegin(); it != reads_.rend(); ++it)
    if (it->path == path) return &it->bytes;
  return nullptr;
}

void FileReads::Note(const std::filesystem::path& path, std::string_view bytes) {
  for (FileReads* reads = innermost; reads; reads = reads->outer_)
    reads->reads_.push_back({path, std::string(bytes)});
}

bool FileReads::Listening() { return innermost != nullptr; }

}  // namespace bm
