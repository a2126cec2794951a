// A child for the Win32 loop's tests, one behaviour per mode:
//   args ARG...      each argument as it arrived, one "[ARG]" line each
//   exit N           "out" on stdout, "err" on stderr, exit status N
//   wait-for-stop    a console Ctrl-C first (a board's child leaves it to its parent: "ignored"
//                    or "taken"), then "ready"; exits 130 once its stop request came (30 s at most)
//   sleep            its process ID, then a minute's sleep
//   grandchild       starts "sleep" as its own child and passes on what it prints; then sleeps
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/CommandLoop.h"
#include "platform/win32/Interrupts.h"
#include "platform/win32/Win32Loop.h"

int main(int argc, char** argv) {
  bm::InstallInterruptHandlers();
  const std::vector<std::string> args = bm::ProgramArguments(argc, argv);
  const std::string mode = args.empty() ? "" : args[0];
  if (mode == "args") {
    for (size_t i = 1; i < args.size(); ++i) std::printf("[%s]\n", args[i].c_str());
    return 0;
  }
  if (mode == "exit" && args.size() == 2) {
    std::fputs("out", stdout);
    std::fputs("err", stderr);
    return std::stoi(args[1]);
  }
  if (mode == "wait-for-stop") {
    bm::win32::NoteConsoleControl(CTRL_C_EVENT);
    std::printf("%s\nready\n", bm::InterruptReceived() ? "taken" : "ignored");
    std::fflush(stdout);
    for (int i = 0; i < 3000 && !bm::InterruptReceived(); ++i) ::Sleep(10);
    return bm::InterruptReceived() ? 130 : 1;
  }
  if (mode == "sleep") {
    std::printf("%lu\n", ::GetCurrentProcessId());
    std::fflush(stdout);
    ::Sleep(60000);
    return 0;
  }
  if (mode == "grandchild") {
    bm::win32::Win32Loop loop;
    auto child = loop.Start(bm::ThisProgramPath(), {"sleep"},
                            {[](std::string_view bytes) {
                               std::fwrite(bytes.data(), 1, bytes.size(), stdout);
                               std::fflush(stdout);
                             },
                             nullptr, nullptr});
    loop.After(std::chrono::seconds(60), [&] { loop.Quit(); });
    loop.Run();
    return 0;
  }
  std::fprintf(stderr, "unknown mode\n");
  return 2;
}
