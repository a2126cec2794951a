// Where the harness reports what real silicon would have done differently
// from what the firmware expected (a write over unerased bits, SPM from the
// application section, a byte lost to a receiver overrun, ...). Each fault is
// printed on stderr at once and counted; the count goes into the report file
// so a test can insist on a clean run.
#pragma once

#include <cstdarg>
#include <cstdint>

namespace avrchip {

class Faults {
 public:
  void report(const char *fmt, ...) __attribute__((format(printf, 2, 3)));
  unsigned count() const { return count_; }

 private:
  unsigned count_ = 0;
};

}  // namespace avrchip
