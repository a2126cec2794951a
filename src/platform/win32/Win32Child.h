// A child process of the command line's loop on Windows: CreateProcessW, its stdout and stderr on
// pipes that a thread each reads and hands to the loop's thread (Win32Loop's mailbox), its end
// seen by a third thread that waits for the process and then for the last of its output.
//
// - The child is in a job object that kills it when the job's last handle closes: the job is
//   the parent's, held until it exits, so a child ends with its parent however the parent ends.
// - It starts in a process group of its own (CREATE_NEW_PROCESS_GROUP): the console's Ctrl-C is
//   not delivered to it, and it leaves Ctrl-Break to its parent (Interrupts.h).
// - Terminate sets the child's stop event, a named event whose name the child finds in
//   BRINDLEMARK_STOP_EVENT: the child takes it as a Ctrl-C and ends its run as quitting does. No
//   console event is used: under wine, and for a parent without a console, GenerateConsoleCtrlEvent
//   reaches no one.
// - Kill is TerminateProcess; a child ended that way (or by an exception: an exit code from
//   0xC0000000 up) ends with no exit status, as one a signal ended on POSIX.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/CommandLoop.h"

namespace bm::win32 {

class Mailbox;

class Win32Child : public ChildProcess {
 public:
  Win32Child(std::shared_ptr<Mailbox> mail, const std::string& program, const std::vector<std::string>& args,
             ChildEvents events);
  // A child still running is killed: it must not outlive the command that made it. Its threads
  // end on their own and post into nothing.
  ~Win32Child() override;

  void Terminate() override;
  void Kill() override;
  bool Running() const override { return running_; }

 private:
  struct Shared;  // what the child's threads share with it

  void Ended(std::optional<int> exitStatus, const std::string& why);
  void Output(bool errors, const std::string& bytes);

  std::shared_ptr<Mailbox> mail_;
  ChildEvents events_;
  std::shared_ptr<Shared> shared_;
  bool running_ = false;
};

// The command line CreateProcessW is given: the program in quotes, then each argument quoted as
// the C runtime and CommandLineToArgvW read it back (spaces, quotes, backslashes before a quote).
std::wstring QuotedCommandLine(const std::wstring& program, const std::vector<std::wstring>& args);

}  // namespace bm::win32
