// The command lines of `load` that need no option parser: the command, one FILE and the options
// of load and the global ones, each spelled the one plain way (--json, --flash-out PATH or
// --flash-out=PATH, ...). The tool's own parser reads every other command line, so a mistake or
// an unusual spelling gets its usual answer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/cli/CommandLine.h"

namespace bm::cli {

// `args` without the program name. None when the line is not such a plain load.
std::optional<CommandLine> ParsePlainLoad(const std::vector<std::string>& args);

}  // namespace bm::cli
