// The command line's event loop on this system, and what station hears of files and ports
// through it: the one place that chooses them.
#pragma once

#ifdef _WIN32
#include "platform/win32/FolderWatch.h"
#include "platform/win32/PortArrivals.h"
#include "platform/win32/Win32Loop.h"
#else
#include "platform/posix/FolderWatch.h"
#include "platform/posix/PollLoop.h"
#include "platform/posix/PortArrivals.h"
#endif

namespace bm::cli {

#ifdef _WIN32
using SystemLoop = win32::Win32Loop;
using FolderWatch = win32::FolderWatch;
using PortArrivals = win32::PortArrivals;
using win32::NearestExistingFolder;
#else
using SystemLoop = posix::PollLoop;
using FolderWatch = posix::FolderWatch;
using PortArrivals = posix::PortArrivals;
using posix::NearestExistingFolder;
#endif

}  // namespace bm::cli
