// Why the search passed a port by, in words a user can act on.
#pragma once

#include <string>

#include "shell/core/Outcomes.h"

namespace bm {

// "could not open — permission denied (...)", "no answer to \"?\"", ...; empty unless skipped.
std::string SkipReason(const PortTry& tried);

}  // namespace bm
