#include "app/target-sim/AdapterBuffer.h"

#include <algorithm>
#include <cmath>

namespace bm::targetsim {

AdapterBuffer::AdapterBuffer(double latencyMs, double startMs) : latencyMs_(latencyMs), startMs_(startMs) {}

std::string AdapterBuffer::Pass(std::string_view bytes, double nowMs) {
  std::string out;
  if (!held_.empty() && nowMs >= sendMs_) out.swap(held_);
  while (!bytes.empty()) {
    if (held_.empty()) sendMs_ = TickAfter(nowMs);
    const size_t n = std::min(bytes.size(), kCapacity - held_.size());
    held_.append(bytes.substr(0, n));
    bytes.remove_prefix(n);
    if (held_.size() == kCapacity) {
      out += held_;
      held_.clear();
    }
  }
  return out;
}

double AdapterBuffer::NextSendMs() const { return held_.empty() ? INFINITY : sendMs_; }

double AdapterBuffer::TickAfter(double ms) const {
  const double tick = startMs_ + (std::floor((ms - startMs_) / latencyMs_) + 1) * latencyMs_;
  // Rounding may land on `ms` itself when the period is tiny against the time; a tick still
  // comes after it, so what is held always leaves.
  return tick > ms ? tick : std::nextafter(ms, INFINITY);
}

}  // namespace bm::targetsim
