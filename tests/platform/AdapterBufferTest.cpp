#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/target-sim/AdapterBuffer.h"

namespace bm::targetsim {
namespace {

TEST(AdapterBuffer, SendsWhenFullOrAtTheNextTick) {
  // At `atMs`, `in` bytes cross the line; the adapter hands `out` bytes to the host, and then
  // holds the rest until `nextMs` (infinity: holds nothing).
  struct Step {
    double atMs;
    int in;
    int out;
    double nextMs;
  };
  struct Case {
    const char* why;
    double latencyMs;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"one byte waits for the next tick", 16, {{5, 1, 0, 16}, {15.9, 0, 0, 16}, {16, 0, 1, INFINITY}}},
      {"a full buffer goes at once", 16, {{5, 62, 62, INFINITY}}},
      {"62 at once, the other 8 at the next tick", 16, {{5, 70, 62, 16}, {16, 0, 8, INFINITY}}},
      {"ticks run from the start, not from the byte",
       16,
       {{15, 1, 0, 16}, {16, 0, 1, INFINITY}, {17, 1, 0, 32}, {31.5, 0, 0, 32}, {32, 0, 1, INFINITY}}},
      {"a byte on the tick itself waits for the next", 16, {{16, 1, 0, 32}, {32, 0, 1, INFINITY}}},
      {"a late look sends the old bytes, not the new ones",
       16,
       {{5, 1, 0, 16}, {20, 2, 1, 32}, {32, 0, 2, INFINITY}}},
      {"bytes gather until the tick", 16, {{1, 3, 0, 16}, {9, 4, 0, 16}, {16.2, 0, 7, INFINITY}}},
      {"filling up before the tick", 16, {{1, 40, 0, 16}, {9, 30, 62, 16}, {16, 0, 8, INFINITY}}},
      {"a fraction of a millisecond", 0.5, {{0.1, 1, 0, 0.5}, {0.7, 1, 1, 1}, {1, 0, 1, INFINITY}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    AdapterBuffer adapter(c.latencyMs);
    EXPECT_TRUE(adapter.Empty());
    std::string sent, received;
    for (const Step& step : c.steps) {
      std::string bytes;
      for (int i = 0; i < step.in; ++i) bytes += static_cast<char>(sent.size() + bytes.size());
      sent += bytes;
      const std::string out = adapter.Pass(bytes, step.atMs);
      EXPECT_EQ(static_cast<int>(out.size()), step.out) << "at " << step.atMs << " ms";
      EXPECT_EQ(adapter.NextSendMs(), step.nextMs) << "at " << step.atMs << " ms";
      EXPECT_EQ(adapter.Empty(), std::isinf(step.nextMs));
      received += out;
    }
    EXPECT_EQ(received, sent) << "every byte, in order";
  }
}

TEST(AdapterBuffer, ClearDropsWhatIsHeld) {
  AdapterBuffer adapter(16);
  EXPECT_EQ(adapter.Pass("abc", 3), "");
  adapter.Clear();
  EXPECT_TRUE(adapter.Empty());
  EXPECT_EQ(adapter.Pass("", 16), "");
  EXPECT_EQ(adapter.Pass("d", 17), "");
  EXPECT_EQ(adapter.Pass("", 32), "d");
}

}  // namespace
}  // namespace bm::targetsim
