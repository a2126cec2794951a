// The command line's event loop on this system: the one place that chooses it.
#pragma once

#include "platform/posix/PollLoop.h"

namespace bm::cli {

using SystemLoop = posix::PollLoop;

}  // namespace bm::cli
