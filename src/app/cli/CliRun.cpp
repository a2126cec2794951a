// brindlemark-cli download and erase: Load, Comport, then Download or Erase (and Stop when
// asked), run through the same handlers the window uses. Unattended use must never pass a
// failure off as success, so every outcome maps to its own exit status.
#include <unistd.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/PortOptions.h"
#include "app/cli/CliProgress.h"
#include "app/cli/CliSession.h"
#include "app/cli/Commands.h"
#include "base/ByteTrace.h"
#include "base/RuntimeExceptionPlus.h"

namespace bm::cli {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitNotLoaded = 1;
constexpr int kExitNotFound = 3;
constexpr int kExitRefused = 4;
constexpr int kExitCommunication = 5;
constexpr int kExitCheckFailed = 6;
constexpr int kExitDoesNotFit = 7;

enum class Action { Download, Erase };

struct RunArgs {
  std::string file;
  std::optional<int> baud;
  bool noFlash = false, noEeprom = false, stop = false, force = false, trace = false;
};

const char* Name(Action action) { return action == Action::Download ? "download" : "erase"; }

void Usage(Action action) {
  if (action == Action::Download)
    std::cerr << "Usage: brindlemark-cli download FILE [--port DEVICE]... [--baud N] [--no-flash] "
                 "[--no-eeprom] [--stop] [--force] [--trace]\n";
  else
    std::cerr
        << "Usage: brindlemark-cli erase FILE [--port DEVICE]... [--baud N] [--stop] [--force] [--trace]\n";
}

// A whole number (its usability is judged once the file's own rate is known).
std::optional<int> ParseBaud(const std::string& text) {
  const size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() <= digits || text.size() > digits + 9 ||
      text.find_first_not_of("0123456789", digits) != std::string::npos)
    return std::nullopt;
  return std::stoi(text);
}

// False (after a note on stderr) when the arguments do not fit the command.
bool Parse(Action action, const std::vector<std::string>& args, RunArgs& out) {
  bool haveFile = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool download = action == Action::Download;
    if (a == "--stop") {
      out.stop = true;
    } else if (a == "--force") {
      out.force = true;
    } else if (a == "--trace") {
      out.trace = true;
    } else if (download && a == "--no-flash") {
      out.noFlash = true;
    } else if (download && a == "--no-eeprom") {
      out.noEeprom = true;
    } else if (a == "--baud" || a.rfind("--baud=", 0) == 0) {
      std::string value;
      if (a == "--baud") {
        if (i + 1 >= args.size()) {
          std::cerr << Name(action) << ": --baud needs a rate\n";
          return false;
        }
        value = args[++i];
      } else {
        value = a.substr(7);
      }
      out.baud = ParseBaud(value);
      if (!out.baud) {
        std::cerr << Name(action) << ": --baud needs a rate in baud, not '" << value << "'\n";
        return false;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      std::cerr << Name(action) << ": unknown option '" << a << "'\n";
      return false;
    } else if (!haveFile) {
      out.file = a;
      haveFile = true;
    } else {
      std::cerr << Name(action) << ": unexpected argument '" << a << "'\n";
      return false;
    }
  }
  if (!haveFile) Usage(action);
  return haveFile;
}

class Runner {
 public:
  Runner(Action action, RunArgs args, const app::PortOptions& options)
      : action_(action), args_(std::move(args)), session_(options) {
    auto display =
        std::make_unique<ProgressDisplay>(std::cerr, isatty(STDERR_FILENO) == 1, session_.dialogs.messages);
    display_ = display.get();
    session_.SetDisplay(std::move(display));
    session_.dialogs.echo = false;  // the display prints them, so a bar is never cut in two
    // The search just identified the target; the run follows at once on the same port.
    main().identifyBeforeEachRun = false;
    main().Open();
  }

  int Run() {
    if (int status = Load(); status != kExitDone) return status;
    if (int status = Connect(); status != kExitDone) return status;
    if (int status = Program(); status != kExitDone) return status;
    if (args_.stop) Step([this] { main().StopBtn_Action(); });
    display_->Note(std::string(Name(action_)) + ": done");
    return kExitDone;
  }

 private:
  Main& main() { return *session_.main; }

  // Runs one handler as the window would, then prints what it showed.
  void Step(const std::function<void()>& handler) {
    main().Handle(handler);
    display_->ShowMessages();
    if (session_.error) {
      display_->Note("Unexpected error: " + RuntimeExceptionPlus::Message(session_.error) +
                     NormalizeLineBreaks(RuntimeExceptionPlus::stackTrace(session_.error)));
    }
  }

  int Load() {
    session_.dialogs.file = args_.file;
    Step([this] { main().FOpenBtn_Action(); });
    const LoadResult& load = main().LastLoad();
    if (session_.error || !load.loaded) {
      display_->Note(std::string(Name(action_)) + ": nothing was loaded from '" + args_.file +
                     "'; nothing sent");
      return kExitNotLoaded;
    }
    // A project without its .eep is a project without an EEPROM image, not a damaged one.
    const int problems = load.messages - (load.eepromMissing ? 1 : 0);
    if (problems > 0 && !args_.force) {
      display_->Note(std::string(Name(action_)) +
                     ": the load reported a problem (above); nothing sent. Use --force to send it anyway.");
      return kExitNotLoaded;
    }
    if (load.eepromMissing)
      display_->Note(
          "warning: the project has no EEPROM image (its .eep file does not exist); only the flash "
          "image is written.");
    if (args_.baud) {
      if (!main().UsableBaudRate(*args_.baud)) {
        display_->Note(std::string(Name(action_)) + ": the BaudRate " + std::to_string(*args_.baud) +
                       " is not a usable rate; the rate stays at " +
                       std::to_string(main().ComPort.BaudRate()) + ".");
        return kExitUsage;
      }
      main().UpdateComSettings(*args_.baud);  // one of the pop-up's rates: selected there too
      main().ComPort.SetBaudRate(*args_.baud);
    }
    if (args_.noFlash) session_.display->SetCheckValue(Check::ProgFlashChk, false);
    if (args_.noEeprom) session_.display->SetCheckValue(Check::ProgEEpChk, false);
    if (args_.trace) {
      main().ComPort.SetTrace([this](bool toTarget, std::string_view bytes) {
        display_->Note(TraceLine(toTarget ? ">" : "<", bytes));
      });
    }
    return kExitDone;
  }

  int Connect() {
    Step([this] { main().ComportBtn_Action(); });
    if (session_.error) return kExitNotFound;
    switch (main().LastSearch()) {
      case SearchOutcome::Found:
        return kExitDone;
      case SearchOutcome::NotRun:
      case SearchOutcome::NotFound:
      case SearchOutcome::Quit:
        return kExitNotFound;  // "Target not found" was shown
      case SearchOutcome::Incomplete:
        display_->Note("Identification failed: the target's reply to \"I\" was incomplete.");
        return kExitRefused;
      case SearchOutcome::Refused:
      case SearchOutcome::Failed:
        return kExitRefused;  // its message was shown
    }
    return kExitRefused;
  }

  int Program() {
    Step([this] {
      if (action_ == Action::Download)
        main().DownLdBtn_Action();
      else
        main().EraseBtn_Action();
    });
    if (session_.error) return kExitCommunication;
    const RunReport& run = main().LastRun();
    switch (run.start) {
      case RunStart::Started:
        return run.result.Clean() ? kExitDone : kExitCommunication;
      case RunStart::NotIdentified:
        return kExitRefused;  // its message was shown
      case RunStart::DoesNotFit:
        return kExitDoesNotFit;  // its message was shown
      case RunStart::NoAnswer:
      case RunStart::NotRun:
        break;
    }
    display_->Note(
        std::string(Name(action_)) +
        ": the target stopped answering (no \"KW\" to \"?\" before the run); nothing was written.");
    return kExitCheckFailed;
  }

  Action action_;
  RunArgs args_;
  CliSession session_;
  ProgressDisplay* display_ = nullptr;
};

int RunCommand(Action action, std::vector<std::string> args) {
  app::PortOptions options = app::TakePortOptions(args);
  options.onlyNamed = !options.devices.empty();
  RunArgs runArgs;
  if (!Parse(action, args, runArgs)) return kExitUsage;
  return Runner(action, std::move(runArgs), options).Run();
}

}  // namespace

int Download(std::vector<std::string> args) { return RunCommand(Action::Download, std::move(args)); }
int Erase(std::vector<std::string> args) { return RunCommand(Action::Erase, std::move(args)); }

}  // namespace bm::cli
