#include "Processes.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>

namespace avrtest {

RunResult runProgram(const std::vector<std::string> &argv, double timeLimitSeconds) {
  RunResult result;
  int out[2];
  if (pipe(out) != 0) return result;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  const auto deadline = start + std::chrono::duration<double>(timeLimitSeconds);
  char buf[4096];
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, int(left.count())) <= 0) continue;
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n > 0)
      result.output.append(buf, size_t(n));
    else if (n == 0 || errno != EINTR)
      break;
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

std::string describe(const std::vector<std::string> &argv, const RunResult &result) {
  std::string text = "ran:";
  for (const auto &a : argv) text += " " + a;
  text += result.timedOut ? " | timed out" : " | exit " + std::to_string(result.exitCode);
  text += " | output:\n" + result.output;
  return text;
}

}  // namespace avrtest
