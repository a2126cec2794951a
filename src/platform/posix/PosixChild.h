// A child process of the command line's poll loop: fork and exec, with its stdout and stderr on
// pipes the loop watches and its end seen through a pidfd (or, on a kernel without them, a
// look every 20 ms). The child leads a process group of its own and gets SIGTERM when its
// parent dies.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/CommandLoop.h"
#include "platform/posix/PollLoop.h"

namespace bm::posix {

class PosixChild : public ChildProcess {
 public:
  PosixChild(PollLoop& loop, const std::string& program, const std::vector<std::string>& args,
             ChildEvents events);
  // A child still running is killed and reaped: it must not outlive the command that made it.
  ~PosixChild() override;

  void Terminate() override;
  void Kill() override;
  bool Running() const override { return running_; }

 private:
  void Read(int& fd, PollLoop::WatchId& watch, const std::function<void(std::string_view)>& to);
  void LookForEnd();
  void Ended(std::optional<int> exitStatus, const std::string& why);
  void Forget();

  PollLoop& loop_;
  ChildEvents events_;
  pid_t pid_ = -1;
  bool running_ = false;
  int out_ = -1, err_ = -1, pidfd_ = -1;
  PollLoop::WatchId outWatch_ = 0, errWatch_ = 0, endWatch_ = 0;
  CommandLoop::TimerId endLook_ = 0;
};

}  // namespace bm::posix
