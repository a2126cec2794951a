#include "Faults.h"

#include <cstdio>

namespace avrchip {

void Faults::report(const char *fmt, ...) {
  ++count_;
  std::fprintf(stderr, "avr-chip: fault: ");
  va_list args;
  va_start(args, fmt);
  std::vfprintf(stderr, fmt, args);
  va_end(args);
  std::fputc('\n', stderr);
}

}  // namespace avrchip
