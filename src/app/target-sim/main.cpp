// brindlemark-target-sim: a simulated bootloader target on a pseudo-terminal, so the real serial
// path (our serial port, the OS's tty layer) can be exercised without hardware.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/target-sim/PtyLine.h"
#include "app/target-sim/SimOptions.h"
#include "app/target-sim/SimServer.h"
#include "platform/sim/ExampleBoard.h"

namespace {

using namespace bm;

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(signalPipe[1], &c, 1);
}

bool Preload(const std::string& path, std::vector<uint8_t>& memory, const char* what) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "brindlemark-target-sim: cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() > memory.size()) {
    std::fprintf(stderr, "brindlemark-target-sim: %s is larger than the %s (%zu bytes)\n", path.c_str(), what,
                 memory.size());
    return false;
  }
  std::copy(bytes.begin(), bytes.end(), memory.begin());
  return true;
}

bool Save(const std::string& path, const std::vector<uint8_t>& memory) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(memory.data()), static_cast<std::streamsize>(memory.size()));
  out.close();
  if (!out) std::fprintf(stderr, "brindlemark-target-sim: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

// Standard input ends the tool only when someone can close it: a terminal or a pipe. A
// background job's /dev/null would otherwise end it at once.
bool StdinIsControl() {
  struct stat st {};
  if (::fstat(STDIN_FILENO, &st) != 0) return false;
  return ::isatty(STDIN_FILENO) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
  targetsim::SimOptions options;
  std::string error;
  const std::vector<std::string> args(argv + 1, argv + argc);
  switch (targetsim::ParseSimOptions(args, sim::ExampleBoardConfig(), options, error)) {
    case targetsim::ParseResult::Help:
      std::fputs(targetsim::SimUsage().c_str(), stdout);
      return 0;
    case targetsim::ParseResult::Version:
      std::printf("brindlemark-target-sim %s\nLicense: MIT\n", BRINDLEMARK_VERSION_TEXT);
      return 0;
    case targetsim::ParseResult::Error:
      std::fprintf(stderr, "brindlemark-target-sim: %s\n%s", error.c_str(), targetsim::SimUsage().c_str());
      return 2;
    case targetsim::ParseResult::Run:
      break;
  }

  const auto start = std::chrono::steady_clock::now();
  const std::function<double()> nowMs = [start] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
  sim::SimTarget target(options.config, nowMs);
  for (const sim::Fault& fault : options.faults) target.AddFault(fault);
  if (!options.flashIn.empty() && !Preload(options.flashIn, target.Flash(), "flash")) return 1;
  if (!options.eepromIn.empty() && !Preload(options.eepromIn, target.Eeprom(), "EEPROM")) return 1;

  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("brindlemark-target-sim: pipe");
    return 1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  ::sigemptyset(&sa.sa_mask);
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  targetsim::PtyLine line;
  if (!targetsim::OpenPtyLine(line, error)) {
    std::fprintf(stderr, "brindlemark-target-sim: %s\n", error.c_str());
    return 1;
  }
  if (!options.link.empty()) {
    // Replace a link left by an earlier run, but never a file someone put there.
    struct stat st {};
    if (::lstat(options.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(options.link.c_str());
    if (::symlink(line.device.c_str(), options.link.c_str()) != 0) {
      std::fprintf(stderr, "brindlemark-target-sim: cannot link %s: %s\n", options.link.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  std::printf("%s\n", line.device.c_str());
  std::fflush(stdout);

  // A paced reply leaves at its time: the 50 µs a timed wait may otherwise oversleep would add
  // to every exchange (and with an adapter model, push a reply past its tick).
  ::prctl(PR_SET_TIMERSLACK, 1UL);

  targetsim::ServeOptions serve;
  serve.exitAfterStop = options.exitAfterStop;
  serve.trace = options.trace;
  serve.watchStdin = StdinIsControl();
  serve.signalFd = signalPipe[0];
  serve.adapterLatencyMs = options.adapterLatencyMs;
  targetsim::Serve(target, line, serve, nowMs);

  bool saved = true;
  if (!options.flashOut.empty()) saved = Save(options.flashOut, target.Flash()) && saved;
  if (!options.eepromOut.empty()) saved = Save(options.eepromOut, target.Eeprom()) && saved;
  if (!options.link.empty()) ::unlink(options.link.c_str());
  if (line.master >= 0) ::close(line.master);
  if (line.opens >= 0) ::close(line.opens);
  return saved ? 0 : 1;
}
