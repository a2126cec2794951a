// Files by name, the same way on every system: names are held as std::string (the bytes given on
// POSIX, UTF-8 on Windows) and become paths in one place; files open through one call that
// takes the path as the system spells it (the wide API on Windows, where a path is UTF-16).
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace bm {

// The path of a name as the program holds it.
std::filesystem::path PathFromName(const std::string& name);
// The name of a path, as the program holds names: PathFromName's inverse.
std::string NameFromPath(const std::filesystem::path& path);

// Opens `file` for reading, in binary; null when it cannot be opened.
std::FILE* OpenForReading(const std::filesystem::path& file);

}  // namespace bm
