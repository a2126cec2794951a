// The receive side of a USB-serial adapter chip of the FTDI kind, as the host sees it: bytes that
// crossed the serial line wait in a 62-byte buffer (a 64-byte USB packet less its two status
// bytes), which goes to the host when it is full or at the next tick of the latency timer,
// whichever comes first. The timer runs freely, ticking every `latencyMs` from `startMs`; a tick
// does not wait for the bytes, so a byte that arrives just before one waits almost not at all and
// one that arrives just after it waits almost a whole period. A byte arriving on the tick itself
// waits for the next one.
//
// Time is given in, so tests decide it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bm::targetsim {

class AdapterBuffer {
 public:
  static constexpr size_t kCapacity = 62;

  explicit AdapterBuffer(double latencyMs, double startMs = 0);

  // `bytes` crossed the line at `nowMs` (called with times that never go back); returns what the
  // adapter hands to the host by `nowMs`, oldest first: the buffer of a tick that has passed, then
  // every buffer these bytes filled.
  std::string Pass(std::string_view bytes, double nowMs);
  // The tick that sends what is held; infinity when nothing is held.
  double NextSendMs() const;
  bool Empty() const { return held_.empty(); }
  // The host opened the line afresh, or the device is gone: what is held is dropped.
  void Clear() { held_.clear(); }

 private:
  double TickAfter(double ms) const;  // the first tick strictly after `ms`

  double latencyMs_;
  double startMs_;
  std::string held_;
  double sendMs_ = 0;  // the tick that sends `held_`
};

}  // namespace bm::targetsim
