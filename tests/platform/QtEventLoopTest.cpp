// Sanity checks of the Qt event loop's timing promises. Lower bounds only: wall time on a
// loaded machine can always be longer.
#include <gtest/gtest.h>
#include <poll.h>

#include <QElapsedTimer>
#include <QTimer>
#include <string>
#include <vector>

#include "platform/posix/PosixSerialPort.h"
#include "platform/qt/QtEventLoop.h"
#include "support/PtyPair.h"

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

// Bytes arriving on an open serial line end the pass and are pulled into the port by the pass
// itself; a line that hangs up ends it too and leaves the port closed.
TEST(QtEventLoop, WhatHappensOnAnOpenLineEndsAPass) {
  for (const bool hangUp : {false, true}) {
    SCOPED_TRACE(hangUp ? "hang-up" : "bytes");
    test::PtyPair pty;
    posix::PosixSerialPort port(pty.Device());
    ASSERT_TRUE(port.Open()) << port.ErrorText();
    QtEventLoop loop;
    QTimer::singleShot(10, [&] { hangUp ? pty.HangUp() : pty.Send("KW"); });
    QElapsedTimer t;
    t.start();
    loop.processEvents(5000);
    EXPECT_LT(t.elapsed(), 4000);
    if (hangUp) {
      EXPECT_FALSE(port.IsOpen()) << "noticed by the pass";
      continue;
    }
    pollfd p{port.Handle(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0) << "the pass pulled the bytes out of the kernel";
    EXPECT_EQ(port.Read(2), "KW");
  }
}

// A port that closes during a pass (Quit, or Stop sending its farewell) is no longer watched: no
// notifier is left on a closed descriptor, whose number may come back for another file.
TEST(QtEventLoop, APortClosedDuringAPassLeavesNoWatchBehind) {
  static std::vector<std::string> warnings;
  warnings.clear();
  const QtMessageHandler before =
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        warnings.push_back(text.toStdString());
      });
  test::PtyPair pty;
  posix::PosixSerialPort port(pty.Device());
  ASSERT_TRUE(port.Open()) << port.ErrorText();
  QtEventLoop loop;
  QTimer::singleShot(5, [&] { port.Close(); });
  QTimer::singleShot(30, [&] { pty.Send("late"); });  // nothing to read it: the pass runs its time
  loop.processEvents(100);
  qInstallMessageHandler(before);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(warnings.empty()) << warnings.front();
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
