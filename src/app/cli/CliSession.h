// What every command of the command-line tool works on: a Main object with a window-less
// status display in the main window's creation state, dialogs that capture every message, the
// Qt event loop and the port list.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/PortOptions.h"
#include "platform/qt/QtEventLoop.h"
#include "shell/core/HeadlessDisplay.h"
#include "shell/core/Main.h"

namespace bm::cli {

// Message boxes are captured in order (and echoed on stderr when asked); the file-open dialog
// returns the file named on the command line.
class CliDialogs : public Dialogs {
 public:
  void MessageBox(const std::string& text) override;
  std::optional<std::string> OpenFile(const std::vector<FileKind>&) override { return file; }

  std::vector<std::string> messages;
  std::optional<std::string> file;
  bool echo = false;
  std::function<void(const std::string&)> onMessage;  // told of each message as it is shown
};

// Every CR, LF or CRLF inside a text as one "\n".
std::string NormalizeLineBreaks(const std::string& text);

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
