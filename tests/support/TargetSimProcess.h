// Runs brindlemark-target-sim for a test: starts it with the given options, reads the device path
// it prints, and stops it with SIGTERM so its --flash-out/--eeprom-out files get written.
//
// The tool's standard input is a pipe this object holds open (closing it would end the tool);
// its standard error goes to a file that StderrText() reads (the --trace output). The default
// program is BM_TARGET_SIM_PATH, which a test target sets with
//   target_compile_definitions(T PRIVATE BM_TARGET_SIM_PATH="$<TARGET_FILE:brindlemark-target-sim>")
//   add_dependencies(T brindlemark-target-sim)
//
//   bm::test::TargetSimProcess sim({"--paced", "--flash-out", path});
//   ASSERT_TRUE(sim.Started()) << sim.StderrText();
//   ... open sim.Device() ...
//   EXPECT_EQ(sim.Stop(), 0);
//
// The target is a process of its own, and a busy machine may leave it unscheduled for longer than
// the documented 50 ms reply window, which a board on its own silicon never is. Tests over a
// pseudo-terminal prove bytes and texts, not the scheduler, so a host they run gives each reply
// kPtyReplyWindowMs: Main through SetReplyWindow, brindlemark-cli through
// BRINDLEMARK_REPLY_TIMEOUT, which starting a target sets for every program started after it.
// A test of the window itself says so (unsetenv).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace bm::test {

inline constexpr int kPtyReplyWindowMs = 1000;

class TargetSimProcess {
 public:
#ifdef BM_TARGET_SIM_PATH
  explicit TargetSimProcess(std::vector<std::string> options = {}, std::string program = BM_TARGET_SIM_PATH)
#else
  TargetSimProcess(std::vector<std::string> options, std::string program)
#endif
  {
    ::setenv("BRINDLEMARK_REPLY_TIMEOUT", std::to_string(kPtyReplyWindowMs).c_str(), 1);
    Start(std::move(options), program);
  }
  ~TargetSimProcess() {
    Stop();
    if (!stderrPath_.empty()) ::unlink(stderrPath_.c_str());
  }
  TargetSimProcess(const TargetSimProcess&) = delete;
  TargetSimProcess& operator=(const TargetSimProcess&) = delete;

  // True when the tool runs and printed its device path.
  bool Started() const { return !device_.empty(); }
  const std::string& Device() const { return device_; }
  pid_t Pid() const { return pid_; }

  // False once the tool has exited (on its own or by Stop).
  bool Running() { return pid_ > 0 && Reap(0) < 0; }

  // Waits up to timeoutMs for the tool to exit on its own (e.g. with --exit-after-stop). Its exit
  // status (128 + signal when killed), or -1 while it still runs.
  int WaitExit(int timeoutMs) { return Reap(timeoutMs); }

  // SIGTERM, then waits (SIGKILL after 10 s). The exit status; repeated calls return it again.
  int Stop() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGTERM);
      if (Reap(10000) < 0) {
        ::kill(pid_, SIGKILL);
        Reap(-1);
      }
    }
    CloseFds();
    return status_;
  }

  // Everything the tool wrote on standard error so far (also after Stop).
  std::string StderrText() const {
    std::ifstream in(stderrPath_, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

 private:
  void Start(std::vector<std::string> options, const std::string& program) {
    char path[] = "/tmp/bm-target-sim-stderr-XXXXXX";
    const int err = ::mkstemp(path);
    stderrPath_ = path;
    int in[2], out[2];
    if (err < 0 || ::pipe2(in, O_CLOEXEC) != 0) return;
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    stdinFd_ = in[1];
    stdoutFd_ = out[0];

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err);
    if (pid_ > 0) ReadDevice();
  }

  void ReadDevice() {
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (text.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{stdoutFd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      const ssize_t n = ::read(stdoutFd_, buf, sizeof buf);
      if (n <= 0) break;  // the tool ended (bad option): its reason is in StderrText()
      text.append(buf, static_cast<size_t>(n));
    }
    if (const size_t eol = text.find('\n'); eol != std::string::npos) device_ = text.substr(0, eol);
  }

  // waitpid with a timeout: < 0 waits for ever. The status once reaped, else -1.
  int Reap(int timeoutMs) {
    if (pid_ <= 0 || status_ >= 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, timeoutMs < 0 ? 0 : WNOHANG);
      if (r == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
      }
      if (r < 0 || std::chrono::steady_clock::now() >= deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  void CloseFds() {
    if (stdinFd_ >= 0) ::close(stdinFd_);
    if (stdoutFd_ >= 0) ::close(stdoutFd_);
    stdinFd_ = stdoutFd_ = -1;
  }

  pid_t pid_ = -1;
  int status_ = -1;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  std::string device_;
  std::string stderrPath_;
};

}  // namespace bm::test
