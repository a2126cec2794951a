// Sanity checks of the Qt event loop's timing promises. Lower bounds only: wall time on a
// loaded machine can always be longer.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "platform/qt/QtEventLoop.h"

namespace bm::qt {
namespace {

TEST(QtEventLoop, APassLastsItsTimeEvenWithAnUnrelatedEventPending) {
  QtEventLoop loop;
  bool fired = false;
  QTimer::singleShot(0, [&] { fired = true; });
  QElapsedTimer t;
  t.start();
  loop.processEvents(1);
  EXPECT_GE(t.nsecsElapsed(), 1000000);
  EXPECT_TRUE(fired) << "events are handled during the pass";
}

TEST(QtEventLoop, FiftyPassesTakeAtLeastFiftyMilliseconds) {
  QtEventLoop loop;
  QTimer busy;  // an event source that is always ready
  busy.start(0);
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < 50; ++i) loop.processEvents(1);
  EXPECT_GE(t.nsecsElapsed(), 50 * 1000000LL);
}

TEST(QtEventLoop, ReceivedBytesEndAPassEarly) {
  QtEventLoop loop;
  QTimer::singleShot(10, [] { QtEventLoop::NotifyBytesArrived(); });
  QElapsedTimer t;
  t.start();
  loop.processEvents(5000);
  EXPECT_LT(t.elapsed(), 4000);
}

TEST(QtEventLoop, YieldPerByteCoalescesEventProcessing) {
  QtEventLoop loop;
  int turns = 0;
  QTimer ticker;  // counts event-loop turns: it fires once per processEvents
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++turns; });
  ticker.start(0);
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < 262144; ++i) loop.yield();
  const qint64 elapsedMs = t.elapsed();
  // At most one turn per interval, plus the one the first yield may take.
  EXPECT_LE(turns, elapsedMs / QtEventLoop::kYieldIntervalMs + 2) << elapsedMs << " ms";
  ticker.stop();
}

}  // namespace
}  // namespace bm::qt
