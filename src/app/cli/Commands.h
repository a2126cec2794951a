// The commands of brindlemark-cli. Each takes the arguments after its name and returns the
// process exit status.
#pragma once

#include <string>
#include <vector>

namespace bm::cli {

int Ports(std::vector<std::string> args);
int Load(std::vector<std::string> args);
int Download(std::vector<std::string> args);
int Erase(std::vector<std::string> args);

inline constexpr int kExitUsage = 2;

}  // namespace bm::cli
