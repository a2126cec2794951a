// Reading the files the loaders work on: text files as lines, binary files as bytes.
//
// Text files may use LF, CRLF or CR line ends (HEX files come from every kind of tool). A final
// line end does not start another line; a file with no text gives one empty line, so a reader
// always has at least one line to look at.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bm::TextFile {

// The file reference a path resolves to: its absolute form, or none for an empty path.
std::optional<std::filesystem::path> Resolve(const std::string& path);

// True when `file` is a plain file that can be opened for reading (no folder, pipe or device).
bool CanOpen(const std::filesystem::path& file);

// Splits text into lines without their line ends.
std::vector<std::string> SplitLines(std::string_view text);

// Reads the whole plain file; none when it is not one or cannot be opened or read.
std::optional<std::string> ReadAll(const std::filesystem::path& file);

// Case-insensitive (ASCII) comparisons used for extensions and project keys.
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
size_t FindNoCase(std::string_view text, std::string_view needle);  // npos when absent

}  // namespace bm::TextFile
