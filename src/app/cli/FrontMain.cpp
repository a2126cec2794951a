// brindlemark-cli as started from the shell: a small program that links no Qt library.
//
// Starting a program linked to Qt costs several milliseconds before main() runs; a production
// line's scripts call `load` to check a file, where that start would be most of the time. So this
// program runs a plain `load` (PlainLoadLine.h) and --version itself, and hands every other
// command line, unchanged, to the full tool (main.cpp) by exec: same process, same arguments,
// same exit status, signals and output.
#include <linux/limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli/Commands.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/PlainLoadLine.h"
#include "app/cli/Version.h"

namespace {

// The full tool: BRINDLEMARK_CLI_TOOL is its path relative to the folder of this program, the
// same in the build tree and in the installed one. Without /proc (a bare chroot) the folder is
// taken from how the program was called.
std::string FullToolPath(const char* calledAs) {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string program = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(calledAs);
  return program.substr(0, program.rfind('/') + 1) + BRINDLEMARK_CLI_TOOL;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace bm::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << kVersionText;
    return kExitDone;
  }
  if (const std::optional<CommandLine> line = ParsePlainLoad(args)) return Load(*line);

  const std::string tool = FullToolPath(argv[0]);
  std::vector<char*> toolArgs(argv, argv + argc + 1);
  toolArgs[0] = const_cast<char*>(tool.c_str());
  ::execv(tool.c_str(), toolArgs.data());
  std::cerr << "brindlemark-cli: cannot start " << tool << ": " << std::strerror(errno) << '\n';
  return kExitCannotStart;
}
