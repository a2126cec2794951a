#include "platform/qt/QtEventLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace bm::qt {
namespace {

QEventLoop* currentPass = nullptr;  // innermost running pass
bool bytesArrived = false;

}  // namespace

QtEventLoop::QtEventLoop() { sinceEvents_.start(); }

void QtEventLoop::processEvents(int maxWaitMs) {
  QElapsedTimer elapsed;
  elapsed.start();
  const qint64 waitNs = static_cast<qint64>(maxWaitMs) * 1000000;
  bytesArrived = false;

  QEventLoop pass;
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  timer.setSingleShot(true);
  QObject::connect(&timer, &QTimer::timeout, &pass, &QEventLoop::quit);

  QEventLoop* outer = currentPass;
  currentPass = &pass;
  // A precise timer may fire a little early; wait out whatever remains. The loop runs at least
  // once: on a loaded machine the pass's time may be gone before it starts, and a pass that
  // handled no events would leave Stop unheard.
  do {
    const qint64 remainingNs = std::max<qint64>(0, waitNs - elapsed.nsecsElapsed());
    timer.start(static_cast<int>((remainingNs + 999999) / 1000000));
    pass.exec();
  } while (!bytesArrived && elapsed.nsecsElapsed() < waitNs);
  currentPass = outer;
  sinceEvents_.restart();
}

void QtEventLoop::yield() {
  if (++yieldsSinceClockRead_ < kYieldsPerClockRead) return;
  yieldsSinceClockRead_ = 0;
  if (sinceEvents_.elapsed() < kYieldIntervalMs) return;
  QCoreApplication::processEvents();
  sinceEvents_.restart();
}

void QtEventLoop::NotifyBytesArrived() {
  bytesArrived = true;
  if (currentPass) currentPass->quit();
}

}  // namespace bm::qt
