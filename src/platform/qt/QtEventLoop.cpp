#include "platform/qt/QtEventLoop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "platform/posix/ReceivingLines.h"

namespace bm::qt {
namespace {

QEventLoop* currentPass = nullptr;  // innermost running pass
bool bytesArrived = false;

// A notifier per open serial line for the time of one pass: bytes arriving on a line are pulled
// into its port and end the pass. A pass inside a pass (a handler that waits) watches the lines
// itself while the outer pass's notifiers rest. A line whose port closes during the pass (Quit,
// Stop) is no longer watched from then on, by this pass or the ones around it.
class LineWatch {
 public:
  LineWatch() : outer_(current_) {
    current_ = this;
    if (outer_) outer_->Enable(false);
    bm::posix::SetLineRemovedHook([](int fd) {
      for (LineWatch* w = current_; w; w = w->outer_) w->Forget(fd);
    });
    for (const bm::posix::ReceivingLine& line : bm::posix::ReceivingLines()) {
      auto notifier = std::make_unique<QSocketNotifier>(line.fd, QSocketNotifier::Read);
      QSocketNotifier* raw = notifier.get();
      QObject::connect(raw, &QSocketNotifier::activated, raw, [raw, fd = line.fd] {
        raw->setEnabled(false);  // the pass ends; the pull may close the line
        // The line's pull as it is now: its port may have closed during the pass.
        for (const bm::posix::ReceivingLine& now : bm::posix::ReceivingLines())
          if (now.fd == fd) now.pull();
        QtEventLoop::NotifyBytesArrived();
      });
      notifiers_.push_back(std::move(notifier));
    }
  }
  ~LineWatch() {
    current_ = outer_;
    if (outer_) outer_->Enable(true);
    if (!outer_) bm::posix::SetLineRemovedHook({});
  }
  LineWatch(const LineWatch&) = delete;
  LineWatch& operator=(const LineWatch&) = delete;

 private:
  void Enable(bool on) {
    for (const auto& n : notifiers_)
      if (!gone_.count(n->socket())) n->setEnabled(on);
  }
  void Forget(int fd) {
    gone_.insert(fd);
    for (const auto& n : notifiers_)
      if (n->socket() == fd) n->setEnabled(false);
  }

  static inline LineWatch* current_ = nullptr;
  LineWatch* outer_;
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers_;
  std::set<qintptr> gone_;  // lines removed during the pass
};

}  // namespace

QtEventLoop::QtEventLoop() = default;

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
  const LineWatch lines;
  // A precise timer may fire a little early; wait out whatever remains. The loop runs at least
  // once: on a loaded machine the pass's time may be gone before it starts, and a pass that
  // handled no events would leave Stop unheard.
  do {
    const qint64 remainingNs = std::max<qint64>(0, waitNs - elapsed.nsecsElapsed());
    timer.start(static_cast<int>((remainingNs + 999999) / 1000000));
    pass.exec();
  } while (!bytesArrived && elapsed.nsecsElapsed() < waitNs);
  currentPass = outer;
  pacer_.Turned();
}

void QtEventLoop::yield() {
  if (!pacer_.Due()) return;
  QCoreApplication::processEvents();
  pacer_.Turned();
}

void QtEventLoop::NotifyBytesArrived() {
  bytesArrived = true;
  if (currentPass) currentPass->quit();
}

}  // namespace bm::qt
