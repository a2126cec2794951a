#include "platform/qt/QtEventLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

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
  // A precise timer may fire a little early; wait out whatever remains.
  while (!bytesArrived && elapsed.nsecsElapsed() < waitNs) {
    const qint64 remainingMs = (waitNs - elapsed.nsecsElapsed() + 999999) / 1000000;
    timer.start(static_cast<int>(remainingMs));
    pass.exec();
  }
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
