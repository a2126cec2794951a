// brindlemark-cli run as a process by the end-to-end tests: run to its end with its output
// kept, or run as a child whose lines the test reads while it works, and the schema's checker.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace bm::test {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

inline const std::string kBlink = std::string(BM_SOURCE_DIR) + "/examples/blink/blink.ppro";

struct CliResult {
  int status;
  std::string out, err;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline CliResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
  char dir[] = "/tmp/bm-cli-XXXXXX";
  const std::string scratch = ::mkdtemp(dir);
  std::string command = "'" + program + "'";
  for (const std::string& a : args) command += " '" + a + "'";
  command += " > '" + scratch + "/out' 2> '" + scratch + "/err' < /dev/null";
  const int raw = std::system(command.c_str());
  CliResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(scratch + "/out"), ReadText(scratch + "/err")};
  fs::remove_all(scratch);
  return r;
}

inline CliResult RunCli(const std::vector<std::string>& args) { return RunProgram(BM_CLI_PATH, args); }

inline std::vector<json> JsonLines(const std::string& out) {
  std::vector<json> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(json::parse(line, nullptr, false));
    EXPECT_FALSE(lines.back().is_discarded()) << "not JSON: " << line;
  }
  return lines;
}

inline std::vector<std::string> Events(const std::vector<json>& lines) {
  std::vector<std::string> events;
  for (const json& l : lines)
    if (events.empty() || events.back() != l.value("event", "")) events.push_back(l.value("event", ""));
  return events;
}

// A child process whose stdout the test reads while it runs. It leads a process group of its own,
// as a shell's job does, so a signal to the group is what Ctrl-C on its terminal would send. A
// child that goes silent fails the test instead of hanging it. `folder`: its working folder.
struct Child {
  explicit Child(const std::vector<std::string>& args, const std::string& program = BM_CLI_PATH,
                 const std::string& folder = {}) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    char path[] = "/tmp/bm-child-err-XXXXXX";
    const int err = ::mkstemp(path);
    errPath = path;
    pid = ::fork();
    if (pid == 0) {
      ::setpgid(0, 0);
      if (!folder.empty() && ::chdir(folder.c_str()) != 0) ::_exit(126);
      ::dup2(out[1], 1);
      ::dup2(err, 2);
      ::close(out[0]);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::setpgid(pid, pid);  // also here: a signal sent right after the fork must find the group
    ::close(out[1]);
    ::close(err);
    stdoutFd = out[0];
  }
  ~Child() {
    if (stdoutFd >= 0) ::close(stdoutFd);
    if (!reaped) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    ::unlink(errPath.c_str());
  }
  std::string Stderr() const { return ReadText(errPath); }
  // The next line of its stdout, or "" at its end or when none came within the time.
  std::string Line(std::chrono::seconds within = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    size_t end;
    while ((end = pending.find('\n')) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{stdoutFd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
        ADD_FAILURE() << "no line within " << within.count() << " s";
        ::kill(-pid, SIGKILL);
        return "";
      }
      char buffer[4096];
      const ssize_t n = ::read(stdoutFd, buffer, sizeof buffer);
      if (n <= 0) return "";
      pending.append(buffer, static_cast<size_t>(n));
    }
    const std::string line = pending.substr(0, end + 1);
    pending.erase(0, end + 1);
    return line;
  }
  int Wait() {
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    reaped = true;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  pid_t pid = -1;
  int stdoutFd = -1;
  std::string pending;
  std::string errPath;
  bool reaped = false;
};

// What the schema's checker says of `lines` (empty when every line matches).
inline std::string SchemaErrors(const std::string& lines) {
  char dir[] = "/tmp/bm-schema-XXXXXX";
  const std::string scratch = ::mkdtemp(dir);
  std::ofstream(scratch + "/lines.jsonl") << lines;
  const CliResult r = RunProgram(
      std::string(BM_SOURCE_DIR) + "/tests/docs/validate-json-lines.py",
      {std::string(BM_SOURCE_DIR) + "/docs/brindlemark-cli.schema.json", scratch + "/lines.jsonl"});
  fs::remove_all(scratch);
  return r.status == 0 ? "" : r.out + r.err + (r.out.empty() && r.err.empty() ? "checker failed" : "");
}

}  // namespace bm::test
