// When a yield turns an event loop: about every 10 ms of work, whatever the pace of the yields.
//
// A loop that yields per byte calls it hundreds of thousands of times per image, and reading the
// clock costs more than the rest of a yield: while yields come fast, the clock is read once per
// 32 of them. When they come slowly — a run at 300 baud yields once per byte, 37 ms apart — 32
// yields would be over a second without a turn, and Stop or Ctrl-C would wait that long; so the
// pacer reads the clock at every yield after each turn and as long as yields come slowly, and
// batches them only once a batch proved fast (32 yields within a millisecond).
#pragma once

#include <chrono>

namespace bm {

class YieldPacer {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr auto kInterval = std::chrono::milliseconds(10);
  static constexpr int kYieldsPerClockRead = 32;
  static constexpr auto kFastBatch = std::chrono::milliseconds(1);

  // Whether this yield should turn the loop (then call Turned once it did).
  bool Due() {
    if (++sinceClockRead_ < perClockRead_) return false;
    sinceClockRead_ = 0;
    const Clock::time_point now = Clock::now();
    perClockRead_ = now - lastClockRead_ < kFastBatch ? kYieldsPerClockRead : 1;
    lastClockRead_ = now;
    return now - lastTurn_ >= kInterval;
  }
  // The loop turned (by a yield, or by a reply-wait pass): the interval starts again.
  void Turned() {
    lastTurn_ = Clock::now();
    lastClockRead_ = lastTurn_;
    perClockRead_ = 1;
    sinceClockRead_ = 0;
  }

 private:
  int perClockRead_ = 1;
  int sinceClockRead_ = 0;
  Clock::time_point lastClockRead_ = Clock::now();
  Clock::time_point lastTurn_ = Clock::now();
};

}  // namespace bm
