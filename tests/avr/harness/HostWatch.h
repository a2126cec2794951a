// Keeps emulated time from running on while the host was not scheduled.
//
// A real chip and the host it talks to each run on hardware of their own; here both share a
// machine with whatever else runs on it. When the host program wants a CPU and does not get one
// (a busy machine: a build beside the tests), a chip paced to the wall clock would go on counting:
// a host starved for 300 ms in the middle of a page makes the loader drop the command after its
// 250 ms byte timeout, a failure no real board on a real host would show. So the harness finds
// the program at the other end of its pseudo-terminal and looks at its scheduling state each
// time it advances the clock (about every millisecond): when the host was runnable at the last
// look and still is (state R in /proc/PID/stat: running or waiting for a CPU), and has not been
// put on a CPU since (the count of its time slices in /proc/PID/schedstat is the same), it has
// been runnable the whole time between, and that wall time is held back from the chip. A host
// that sleeps (waits in poll for a reply, or for its own next step), or that runs for a few
// microseconds a byte, does not hold the chip: a loader's window still passes for a host that is
// silent, or absent.
//
// Held back too: time the host spends computing without a break, with the chip waiting for it,
// which is as if the host were faster. The harness reports the total (host_held_ms); benchmarks
// switch this off (--follow-host 0) so their figures are the wall clock's.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

namespace avrchip {

class HostWatch {
 public:
  explicit HostWatch(std::string ptyPath) : ptyPath_(std::move(ptyPath)) {}
  ~HostWatch();
  HostWatch(const HostWatch &) = delete;
  HostWatch &operator=(const HostWatch &) = delete;

  // Called each time the clock is advanced, `now` being the wall clock, with whether a program
  // has the pty open. Returns the wall time since the previous call that the chip must not count
  // (zero while the host sleeps or there is none).
  std::chrono::steady_clock::duration held(std::chrono::steady_clock::time_point now, bool hostConnected);

  std::chrono::steady_clock::duration totalHeld() const { return total_; }

 private:
  void find(std::chrono::steady_clock::time_point now);  // the process that has the pty open
  void forget();
  // Whether the host's state is R, and how many time slices it has had; false when it is gone.
  bool look(unsigned long long &slices);

  std::string ptyPath_;
  pid_t pid_ = -1;
  int statFd_ = -1, schedFd_ = -1;
  bool wasRunnable_ = false;
  unsigned long long slices_ = 0;
  std::chrono::steady_clock::time_point last_{}, lastSearch_{};
  std::chrono::steady_clock::duration total_{};
};

}  // namespace avrchip
