// The real main window over a presenter with scripted dialogs, an event loop with injected
// time and, when asked, the simulated target as the one port "sim" (clocked by that loop).
#pragma once

#include <QWidget>
#include <memory>

#include "app/PortOptions.h"
#include "platform/PortList.h"
#include "platform/sim/ExampleBoard.h"
#include "platform/sim/SimSerialPort.h"
#include "shell/core/Engine.h"
#include "shell/core/Presenter.h"
#include "shell/qt/MainWindow.h"
#include "support/RecordingDialogs.h"
#include "support/ScriptedEventLoop.h"

namespace bm::test {

struct WindowRig {
  explicit WindowRig(bool withTarget = false, const sim::SimTargetConfig& board = sim::ExampleBoardConfig()) {
    if (withTarget) {
      target = std::make_shared<sim::SimTarget>(board, loop.Clock());
      ports.Add(std::make_unique<sim::SimSerialService>(target));
    }
    presenter.SetClock(loop.Clock());
    window.Attach(presenter);
    window.Open();
  }

  template <typename W = QWidget>
  W* Find(const char* name) const {
    return window.findChild<W*>(QString::fromLatin1(name));
  }

  RecordingDialogs dialogs;
  ScriptedEventLoop loop;
  PortList ports;
  std::shared_ptr<sim::SimTarget> target;
  qt::MainWindow window;
  Engine engine{loop, ports};
  Presenter presenter{engine, window.Display(), dialogs};
};

}  // namespace bm::test
