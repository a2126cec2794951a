// What the command line needs of the system beyond the platform's classes: the terminal, the
// local time, a private folder, how port names map to devices, and the facts of a file. One
// file per system (SystemPosix.cpp, SystemWin32.cpp); the build takes the one of its system.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <utility>

namespace bm::cli {

// Whether standard error is a terminal that shows the bar's redrawing (on Windows a console,
// whose escape sequences are switched on here; one that does not take them gets plain lines).
bool StderrIsTerminal();

// `t` in local time.
std::tm LocalTime(std::time_t t);

// A new, empty folder for this program's own use (station's private copies); none when it
// cannot be made.
std::optional<std::string> MakePrivateFolder();

// The device a port name opens: "ttyUSB0" is /dev/ttyUSB0, a name with a slash is a path (POSIX);
// "COM3", "com3" and "\\.\COM3" are COM3 (Windows).
std::string PortDevice(const std::string& name);
// The device `device` is, links followed (POSIX), so two names of one device are one.
std::string RealDevice(const std::string& device);
// Whether the device of port `name` is there now.
bool PortPresent(const std::string& name);
// The folder in which the device entry of port `name` comes and goes, to be watched; empty where
// ports are no entries of a folder (Windows).
std::string PortFolder(const std::string& name);
// Whether serial ports appear as entries of a folder (/dev/serial/by-id), as station --watch
// needs: not on Windows.
bool PortsAppearInFolders();

// What the checks before a load need to know of a file.
struct FileFacts {
  enum class Kind { Missing, Denied, Directory, NotRegular, Regular, Unknown };
  Kind kind = Kind::Unknown;
  uint64_t bytes = 0;  // Regular: its size
  std::string error;   // Unknown: the system's words
};
inline FileFacts Facts(FileFacts::Kind kind, uint64_t bytes = 0, std::string error = {}) {
  return {kind, bytes, std::move(error)};
}
FileFacts FactsOf(const std::string& file);
// Whether this user may read `file`.
bool MayRead(const std::string& file);
// Why this user cannot make files in the folder `dir`; none when it can.
std::optional<std::string> WhyNotWritable(const std::string& dir);

}  // namespace bm::cli
