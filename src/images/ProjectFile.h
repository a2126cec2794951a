// The project (.ppro) file: its line reader, its key lookup, its value rules and the reading of
// a project's keys.
//
// A key line is key + "=" + value; its value text is what lies between the first and the second
// "=" (blanks kept), with a leading "$" rewritten to "&h". Val turns such a text into a number
// the way the project files were always read: blanks skipped, "&h" means hexadecimal, reading
// stops at the first character that is not part of the number, no number gives 0.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "images/Images.h"
#include "platform/EventLoop.h"

namespace bm::ProjectFile {

// The value text of a key line, after the "$" rewrite.
std::string ValueText(std::string_view line);

// The number in `text`. Hexadecimal keeps the low 32 bits (&hFFFFFFFF is -1); decimal is
// clamped to the 32-bit range.
int32_t Val(std::string_view text);

// The image paths next to a project: the first ".ppro" (any case) replaced by ".hex", and the
// first ".hex" (any case) replaced by ".eep". The path is returned unchanged when it holds none.
std::string ReplaceFirstNoCase(std::string_view path, std::string_view from, std::string_view to);

// The line reader: every line of the project file at `path` into `st`, yielding per line. A file
// that cannot be opened raises RuntimeError("Cannot open the project file: " + path). Returns the
// file as read.
FileSeen loader(const std::string& path, LineBuffer& st, EventLoop& loop);

// The key lookup: the value text of the first non-empty line of `st` that starts with `key`
// (any case), or `defaultValue`. Yields per line looked at.
std::string readINI(const LineBuffer& st, std::string_view key, const std::string& defaultValue,
                    EventLoop& loop);

// What a project says: its keys, read as the loading step uses them, and the paths of its two
// images. Keys a project leaves out take their defaults (DeviceID 1, CPUname "---",
// BootLoaderID 0, EEpromMax 0, BaudRate 57600).
struct ProjectKeys {
  int32_t OrgID = 0;
  std::string CPUname;
  int32_t OrgBootID = 0;
  int32_t OrgEEpEnd = 0;
  int32_t BaudRate = 0;
  std::string BaudRateText;     // the value as written, for a message about a rate that is no number
  bool namesBaudRate = false;   // the project has a BaudRate key (not only the default)
  int32_t WaitAfterOpenMs = 0;  // WaitAfterOpen: ms after opening a port before the first "?"
  std::string flashPath;        // the first ".ppro" of the project's path replaced by ".hex"
  std::string eepromPath;       // then the first ".hex" of that replaced by ".eep"
  FileSeen seen;                // the project file's bytes as read
};

// Reads the project at `path` (already resolved to its full path) into `st` and looks its keys up.
ProjectKeys ReadProject(const std::string& path, LineBuffer& st, EventLoop& loop);

}  // namespace bm::ProjectFile
