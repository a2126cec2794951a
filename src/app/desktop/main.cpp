// brindlemark: the desktop program. One main window, the view of a presenter over the engine; the
// port list is the system's serial ports, devices named with --port, and the simulated target
// when asked.
#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/PortOptions.h"
#include "app/desktop/DesktopRecord.h"
#include "platform/qt/QtDialogs.h"
#include "platform/qt/QtEventLoop.h"
#include "shell/core/Engine.h"
#include "shell/core/Presenter.h"
#include "shell/qt/AppIcon.h"
#include "shell/qt/MainWindow.h"

namespace {

constexpr const char* kUsage = R"(Usage: brindlemark [OPTIONS] [FILE]

Writes firmware into AVR microcontrollers through their serial bootloader. FILE (a .hex, .eep,
.ppro, .pac or .pack file) is loaded at start, as Load loads it.

Options:
  --port DEVICE        also offer DEVICE as a serial port (repeatable), e.g. a pseudo-terminal;
                       "sim" is the simulated target.
  --simulated-target   offer the simulated target as port "sim".
  --record DB          record each Download and Erase in DB, a SQLite file or a postgresql://
                       URI (BRINDLEMARK_RECORD says the same; docs/records.md).
  --help               show this text.
  --version            show the version.
)";

}  // namespace

int main(int argc, char** argv) {
  // --help and --version answer without a display.
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (a == "--version") {
      std::cout << "brindlemark " << BRINDLEMARK_VERSION_TEXT << '\n';
      return 0;
    }
  }
  if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
      qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    std::cerr << "brindlemark: no display found (DISPLAY is not set). "
                 "brindlemark-cli does the same jobs without one.\n";
    return 1;
  }

  QApplication app(argc, argv);  // takes Qt's own options (-platform, ...) out first
  QApplication::setApplicationName(QStringLiteral("Brindlemark"));
  QApplication::setApplicationVersion(QStringLiteral(BRINDLEMARK_VERSION_TEXT));
  QApplication::setDesktopFileName(QStringLiteral("brindlemark"));

  std::vector<std::string> args;
  for (const QString& a : QApplication::arguments().mid(1)) args.push_back(a.toStdString());
  const bm::app::PortOptions portOptions = bm::app::TakePortOptions(args);
  // The production record: --record DB, else BRINDLEMARK_RECORD.
  std::optional<std::string> record;
  if (const char* env = std::getenv("BRINDLEMARK_RECORD"); env && *env) record = env;
  for (auto it = args.begin(); it != args.end();) {
    if (*it == "--record" && it + 1 != args.end()) {
      record = *(it + 1);
      it = args.erase(it, it + 2);
    } else if (it->rfind("--record=", 0) == 0) {
      record = it->substr(9);
      it = args.erase(it);
    } else {
      ++it;
    }
  }
  // What is left is at most one file to load; anything that looks like an option is unknown.
  std::optional<std::string> file;
  for (const std::string& a : args) {
    if ((a.size() > 1 && a[0] == '-') || file) {
      std::cerr << "brindlemark: unknown option '" << a << "'\n" << kUsage;
      return 2;
    }
    file = a;
  }

  QApplication::setWindowIcon(bm::qt::AppIcon());
  bm::app::Ports ports = bm::app::MakePorts(portOptions);
  bm::qt::QtEventLoop loop;
  bm::qt::QtDialogs dialogs;
  bm::qt::MainWindow window;
  dialogs.SetParent(&window);
  bm::Engine engine(loop, *ports.list);
  bm::Presenter presenter(engine, window.Display(), dialogs);
  std::optional<bm::app::DesktopRecord> recording;
  if (record) recording.emplace(engine, *ports.list, *record);
  // The presenter's own hook shows the message and the trail in a box; the program keeps running.
  window.Attach(presenter);
  window.show();
  window.Open();
  // Once the event loop runs, so a message the load shows has the window behind it.
  if (file)
    QTimer::singleShot(0, &window, [&window, &file] { window.LoadFile(QString::fromStdString(*file)); });

  // Handlers never let an error out; this is the last net should Qt itself throw.
  for (;;) {
    try {
      return QApplication::exec();
    } catch (...) {
      // Shown by the unhandled-error hook, as an error of a handler is.
      const std::exception_ptr error = std::current_exception();
      presenter.Handle([&error] { std::rethrow_exception(error); });
      if (!window.isVisible()) return 1;
    }
  }
}
