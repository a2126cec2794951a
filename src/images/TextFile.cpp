#include "images/TextFile.h"

#include <cstdio>
#include <memory>
#include <system_error>

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
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return std::filesystem::path(path);
  return absolute;
}

bool CanOpen(const std::filesystem::path& file) {
  // Only plain files: opening a named pipe blocks until a writer comes, and a device such as
  // /dev/zero never ends; either would hang the program.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return false;
  std::unique_ptr<std::FILE, FileCloser> handle(std::fopen(file.c_str(), "rb"));
  return handle != nullptr;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\n' || c == '\r') {
      lines.emplace_back(text.substr(start, i - start));
      i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size() || lines.empty()) lines.emplace_back(text.substr(start));
  return lines;
}

std::optional<std::string> ReadAll(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;  // see CanOpen
  std::unique_ptr<std::FILE, FileCloser> handle(std::fopen(file.c_str(), "rb"));
  if (!handle) return std::nullopt;
  std::string content;
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, handle.get())) > 0) content.append(chunk, got);
  if (std::ferror(handle.get())) return std::nullopt;
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
