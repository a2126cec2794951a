#include "images/TextFile.h"

#include <cstdio>
#include <memory>
#include <system_error>

#include "base/FileError.h"
#include "base/FileOpen.h"
#include "base/Prefault.h"
#include "images/Images.h"

namespace bm::TextFile {
namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::optional<std::filesystem::path> Resolve(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::error_code ec;
  const std::filesystem::path name = PathFromName(path);
  std::filesystem::path absolute = std::filesystem::absolute(name, ec);
  if (ec) return name;
  return absolute;
}

Chosen Choose(const std::string& path, Diagnostics& found, const std::string& origin) {
  Chosen chosen{Resolve(path)};
  if (!chosen.file) {
    FileError::Constructor(found, DiagnosticCode::NoFileSpecified, "No file specified", origin, std::nullopt);
    return chosen;
  }
  std::error_code ec;
  chosen.goOn = !std::filesystem::is_directory(*chosen.file, ec);
  return chosen;
}

bool CanOpen(const std::filesystem::path& file) {
  // Only plain files: opening a named pipe blocks until a writer comes, and a device such as
  // /dev/zero never ends; either would hang the program.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return false;
  std::unique_ptr<std::FILE, FileCloser> handle(OpenForReading(file));
  return handle != nullptr;
}

std::optional<std::string> ReadAll(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;  // see CanOpen
  const uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size > LineBuffer::kMaxText) return std::nullopt;
  std::unique_ptr<std::FILE, FileCloser> handle(OpenForReading(file));
  if (!handle) return std::nullopt;
  std::setvbuf(handle.get(), nullptr, _IONBF, 0);  // one read straight into the text, no copy
  // The size is a guess: the file may change between the look at it and the reading.
  std::string content;
  content.reserve(static_cast<size_t>(size) + 1);
  PrefaultForWrite(content.data(), content.capacity());
  content.resize(static_cast<size_t>(size) + 1);
  size_t got = 0;
  for (;;) {
    got += std::fread(content.data() + got, 1, content.size() - got, handle.get());
    if (got > LineBuffer::kMaxText) return std::nullopt;
    if (got < content.size()) break;     // the end, or an error
    content.resize(content.size() * 2);  // the file grew
  }
  if (std::ferror(handle.get())) return std::nullopt;
  content.resize(got);
  return content;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

size_t FindNoCase(std::string_view text, std::string_view needle) {
  if (needle.size() > text.size()) return std::string_view::npos;
  for (size_t i = 0; i + needle.size() <= text.size(); ++i)
    if (EqualNoCase(text.substr(i, needle.size()), needle)) return i;
  return std::string_view::npos;
}

}  // namespace bm::TextFile
