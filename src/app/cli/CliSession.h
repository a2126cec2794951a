// What every command of the command-line tool works on: a Main object with a window-less
// status display in the main window's creation state, dialogs that capture every message, the
// Qt event loop and the port list.
#pragma once

#include <exception>
#include <memory>

#include "app/PortOptions.h"
#include "app/cli/CliDialogs.h"
#include "platform/qt/QtEventLoop.h"
#include "shell/core/HeadlessDisplay.h"
#include "shell/core/Main.h"

namespace bm::cli {

struct CliSession {
  explicit CliSession(const app::PortOptions& options);

  qt::QtEventLoop loop;
  app::Ports ports;
  HeadlessDisplay* display;  // owned by the session; a command may install its own subclass
  CliDialogs dialogs;
  std::unique_ptr<HeadlessDisplay> ownedDisplay;
  std::unique_ptr<Main> main;
  std::exception_ptr error;  // an error that reached the unhandled-error hook

  // Replaces the display (before the first operation runs).
  void SetDisplay(std::unique_ptr<HeadlessDisplay> display);
};

}  // namespace bm::cli
