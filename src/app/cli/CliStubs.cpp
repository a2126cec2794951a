// Placeholders for the commands that have not landed yet.
#include <iostream>

#include "app/cli/Commands.h"

namespace bm::cli {

int Load(std::vector<std::string>) {
  std::cerr << "load: not available in this build yet\n";
  return kExitUsage;
}
int Download(std::vector<std::string>) {
  std::cerr << "download: not available in this build yet\n";
  return kExitUsage;
}
int Erase(std::vector<std::string>) {
  std::cerr << "erase: not available in this build yet\n";
  return kExitUsage;
}

}  // namespace bm::cli
