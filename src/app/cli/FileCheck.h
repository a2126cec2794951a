// What the command-line tool checks of FILE before the documented load runs: the load's own
// answer to a missing file, a folder or a pipe is "The selected file is not a text file.", which
// does not tell a script what to fix, and a pipe or a device must never be opened at all (it
// would block, or never end).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace bm::cli {

// The largest file the tool reads: the largest AVR flash is 256 KiB, about 0.7 MB as HEX text,
// so anything near this is not an image.
inline constexpr uint64_t kMaxFileBytes = 64ull << 20;

// Why `file` cannot be loaded ("no such file", "is a directory", "is not a regular file (a pipe,
// a device or a socket)", "permission denied", "is 3072 MiB, larger than any image can be (at
// most 64 MiB); nothing was read" — for a project also its .hex or .eep), or none when it is a
// readable regular file of a possible size.
std::optional<std::string> WhyNotLoadable(const std::string& file);

// Why the logs of gang and station cannot be kept in `dir` (it is made when missing): not a
// directory, cannot be made, or not writable by this user. Nothing when they can.
std::optional<std::string> WhyNoLogs(const std::string& dir);

// The one line with which `command` (gang, station) refuses a --log-dir it cannot keep logs in,
// reason included: "gang: cannot keep logs in 'DIR': not a directory". None when no --log-dir
// was given or the logs can be kept there.
std::optional<std::string> LogDirRefusal(const std::string& command, const std::optional<std::string>& dir);

}  // namespace bm::cli
