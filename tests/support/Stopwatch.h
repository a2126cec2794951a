// Wall time for tests that wait on a real line or process, without a toolkit: time since it was
// made or last restarted.
#pragma once

#include <chrono>
#include <cstdint>

namespace bm::test {

class Stopwatch {
 public:
  void restart() { start_ = std::chrono::steady_clock::now(); }
  int64_t elapsed() const {  // milliseconds
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
        .count();
  }
  int64_t nsecsElapsed() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_)
        .count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace bm::test
