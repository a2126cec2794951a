// Why the search passed a port by, in words a user can act on.
#pragma once

#include <string>

#include "shell/core/Outcomes.h"

namespace bm {

// "could not open — permission denied (...)", "no answer to \"?\"", ...; empty unless skipped.
std::string SkipReason(const PortTry& tried);

// The same, for scripts: "no-answer", "wrong-answer", "permission-denied", "busy", "no-device" or
// "cannot-open"; empty unless skipped.
const char* SkipReasonCode(const PortTry& tried);

}  // namespace bm
