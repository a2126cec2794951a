// The files the readers read, with the very bytes they used.
//
// While a FileReads lives, every file a reader reads on this thread is noted in it (and in any
// FileReads around it). A load stamps and hashes what it read from these bytes: nothing is read
// a second time, so a hash never describes a file rebuilt after the readers took it, and a pipe
// or a device is never opened by anything but the readers, which refuse it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace bm {

class FileReads {
 public:
  struct Read {
    std::filesystem::path path;
    std::string bytes;
  };

  FileReads();
  ~FileReads();
  FileReads(const FileReads&) = delete;
  FileReads& operator=(const FileReads&) = delete;

  const std::vector<Read>& All() const { return reads_; }
  // The bytes read from `path` last, or null when it was not read.
  const std::string* BytesOf(const std::filesystem::path& path) const;

  // Called by the readers with a whole file's bytes; costs nothing when no FileReads lives.
  static void Note(const std::filesystem::path& path, std::string_view bytes);
  static bool Listening();

 private:
  FileReads* outer_;
  std::vector<Read> reads_;
};

}  // namespace bm
