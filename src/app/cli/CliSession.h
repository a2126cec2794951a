// What the port-using commands of the command-line tool work on: the engine over the chosen port
// list, with the command line's own event loop for its waits.
#pragma once

#include "app/PortOptions.h"
#include "app/cli/CommandLoop.h"
#include "shell/core/Engine.h"

namespace bm::cli {

struct CliSession {
  explicit CliSession(const app::PortOptions& options) : ports(app::MakePorts(options)) {}

  SystemLoop loop;
  app::Ports ports;
  Engine engine{loop, *ports.list};
};

}  // namespace bm::cli
