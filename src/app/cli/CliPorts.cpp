#include <iostream>

#include "app/PortOptions.h"
#include "app/cli/Commands.h"

namespace bm::cli {

int Ports(std::vector<std::string> args) {
  const app::PortOptions options = app::TakePortOptions(args);
  if (!args.empty()) {
    std::cerr << "ports: unexpected argument '" << args.front() << "'\n";
    return kExitUsage;
  }
  app::Ports ports = app::MakePorts(options);
  const int count = ports.list->Count();
  for (int i = 0; i < count; ++i)
    std::cout << i << '\t' << ports.list->PortName(i) << '\t' << ports.list->Description(i) << '\n';
  if (count == 0) std::cerr << "No serial ports found.\n";
  return 0;
}

}  // namespace bm::cli
