// Port names as gang and station take them: each name resolved once, so that two names of one
// device are one board and a relative name means the same in every child.
#pragma once

#include <string>

namespace bm::cli {

// The name to use from now on: "sim" and a bare device name ("ttyUSB0", found in /dev; "COM3" or
// "\\.\COM10" on Windows) as given; a path ("./link1", "wd/x") made absolute against the current
// folder, without following links.
std::string ResolvedPortName(const std::string& name);

// The device a resolved name stands for, links followed (on Windows one spelling of the port:
// "com10" and "\\.\COM10" are COM10): two names with the same device must never get two children
// (their commands would interleave on the line).
std::string DeviceOf(const std::string& resolvedName);

}  // namespace bm::cli
