// Reading the files the loaders work on: a text file whole, in one read, for the line buffer
// (LineBuffer in images/Images.h holds it and finds its lines); binary files as bytes.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/Diagnostic.h"

namespace bm::TextFile {

// The file reference a path resolves to: its absolute form, or none for an empty path.
std::optional<std::filesystem::path> Resolve(const std::string& path);

// The first step of every reader with the path it is given: the file it resolves to, and whether
// to go on and open it. An empty path gets the file-error report "No file specified" from
// `origin`; a folder is passed over without a word.
struct Chosen {
  std::optional<std::filesystem::path> file;
  bool goOn = false;
};
Chosen Choose(const std::string& path, Diagnostics& found, const std::string& origin);

// True when `file` is a plain file that can be opened for reading (no folder, pipe or device).
bool CanOpen(const std::filesystem::path& file);

// Reads the whole plain file; none when it is not one, cannot be opened or read, or is longer
// than a line buffer holds (LineBuffer::kMaxText).
std::optional<std::string> ReadAll(const std::filesystem::path& file);

// Case-insensitive (ASCII) comparisons used for extensions and project keys.
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
size_t FindNoCase(std::string_view text, std::string_view needle);  // npos when absent

}  // namespace bm::TextFile
