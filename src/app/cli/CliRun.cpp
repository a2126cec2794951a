// Placeholder: "download" and "erase" land with the target link.
#include <iostream>

#include "app/cli/Commands.h"

namespace bm::cli {

int Download(std::vector<std::string>) {
  std::cerr << "download: not available in this build yet\n";
  return kExitUsage;
}
int Erase(std::vector<std::string>) {
  std::cerr << "erase: not available in this build yet\n";
  return kExitUsage;
}

}  // namespace bm::cli
