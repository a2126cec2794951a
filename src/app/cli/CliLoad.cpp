// Placeholder: "load" lands with the readers.
#include <iostream>

#include "app/cli/Commands.h"

namespace bm::cli {

int Load(std::vector<std::string>) {
  std::cerr << "load: not available in this build yet\n";
  return kExitUsage;
}

}  // namespace bm::cli
