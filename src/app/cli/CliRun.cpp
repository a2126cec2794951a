// brindlemark-cli download and erase: Load, Comport, then Download or Erase (and Stop when
// asked), run through the same handlers the window uses. Unattended use must never pass a
// failure off as success, so every outcome maps to its own exit status; with --json each step
// is also told as a JSON line on stdout.
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <algorithm>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/CliProgress.h"
#include "app/cli/CliSession.h"
#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/Interrupts.h"
#include "base/ByteTrace.h"
#include "base/HexText.h"
#include "base/RuntimeExceptionPlus.h"
#include "shell/core/SkipReason.h"

namespace bm::cli {
namespace {

using json = nlohmann::ordered_json;

std::string Sha256Of(const std::string& path) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return {};
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(&file);
  return hash.result().toHex().toStdString();
}

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::Flash:
      return "flash";
    case Phase::Eeprom:
      return "eeprom";
    case Phase::Erase:
      return "erase";
  }
  return "";
}

const char* StatusName(PortTry::Status status) {
  switch (status) {
    case PortTry::Status::Trying:
      return "trying";
    case PortTry::Status::Found:
      return "found";
    case PortTry::Status::Skipped:
      return "skipped";
  }
  return "";
}

const char* KindName(DiagnosticKind kind) { return kind == DiagnosticKind::Warning ? "warning" : "error"; }

// The ports the search tries, and the run's phases and progress, as JSON lines; the run's rate
// and time left for the bar.
class RunLines : public Main::Observer {
 public:
  RunLines(EventLog& log, ProgressDisplay& display, std::function<void(const PortTry&)> portTried)
      : log_(log), display_(display), portTried_(std::move(portTried)) {}

  void OnPortTried(const PortTry& tried) override { portTried_(tried); }

  void OnPhase(Phase phase) override {
    phase_ = phase;
    lastPercent_ = -1;
    phaseStart_ = log_.Seconds();
    log_.Emit("phase", {{"name", PhaseName(phase)}});
  }
  void OnProgress(int percent, int64_t done, int64_t total) override {
    // The last page may reach past the image end: the bar and the lines stop at 100 %.
    percent = std::min(percent, 100);
    done = std::min(done, total);
    const double elapsed = log_.Seconds() - phaseStart_;
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
    display_.SetRate(rate, left);
    if (percent == lastPercent_) return;  // at most one line per whole percent
    lastPercent_ = percent;
    log_.Emit("progress", {{"phase", PhaseName(phase_)},
                           {"percent", percent},
                           {"bytes", done},
                           {"totalBytes", total},
                           {"bytesPerSecond", std::lround(rate)},
                           {"secondsLeft", Millis(left)}});
  }

 private:
  EventLog& log_;
  ProgressDisplay& display_;
  std::function<void(const PortTry&)> portTried_;
  Phase phase_ = Phase::Flash;
  int lastPercent_ = -1;
  double phaseStart_ = 0;
};

class Runner {
 public:
  Runner(const CommandLine& line, EventLog& log) : line_(line), log_(log), session_(PortsOf(line)) {
    auto display =
        std::make_unique<ProgressDisplay>(std::cerr, isatty(STDERR_FILENO) == 1, session_.dialogs.messages);
    display_ = display.get();
    session_.SetDisplay(std::move(display));
    session_.dialogs.echo = false;  // the display prints them, so a bar is never cut in two
    // A box outside the load is a run's failure or refusal; the load's findings are told with
    // their kinds once it has ended.
    session_.dialogs.onMessage = [this](const std::string& text) {
      if (!loading_) Message("error", text, false);
    };
    lines_ = std::make_unique<RunLines>(log_, *display_, [this](const PortTry& tried) { PortLine(tried); });
    listening_ = main().Listen(*lines_);
    main().Open();
  }

  int Run() {
    Interrupts interrupts([this] { main().RequestQuit(); });
    if (auto end = Load()) return *end;
    if (auto end = Connect()) return *end;
    if (auto end = Program()) return *end;
    if (line_.stop) Step([this] { main().StopBtn_Action(); });
    return Finish(Outcome::Done, std::string(Name()) + ": done");
  }

 private:
  static app::PortOptions PortsOf(const CommandLine& line) {
    app::PortOptions options = line.ports;
    options.onlyNamed = !options.devices.empty();
    return options;
  }
  Main& main() { return *session_.main; }
  const char* Name() const { return CommandName(line_.command); }

  // One line for the user (stderr) and, with --json, a "message" line.
  void Message(const char* kind, const std::string& text, bool print = true) {
    if (print) display_->Note(NormalizeLineBreaks(text));
    log_.Emit("message", {{"kind", kind}, {"text", NormalizeLineBreaks(text)}});
  }

  // The result line, and the status to exit with.
  int Finish(Outcome outcome, const std::string& note = {}) {
    if (Interrupts::Received()) outcome = Outcome::Stopped;
    const int exitCode = ExitStatusOf(outcome);
    if (!note.empty()) Message(outcome == Outcome::Done ? "info" : "error", note);
    json failures = json::array();
    for (Failure f : main().LastRun().result.failures) failures.push_back(Number(f));
    log_.Emit("result", {{"outcome", NameOf(outcome)},
                         {"failures", failures},
                         {"exitCode", exitCode},
                         {"seconds", Millis(log_.Seconds())},
                         {"sha256", sha256_}});
    return exitCode;
  }

  // Runs one handler as the window would, then prints what it showed.
  void Step(const std::function<void()>& handler) {
    main().Handle(handler);
    display_->ShowMessages();
    if (session_.error) {
      Message("error", "Unexpected error: " + RuntimeExceptionPlus::Message(session_.error) +
                           NormalizeLineBreaks(RuntimeExceptionPlus::stackTrace(session_.error)));
      session_.error = nullptr;
      failedByError_ = true;
    }
  }

  std::optional<int> Load() {
    session_.dialogs.file = line_.file;
    sha256_ = Sha256Of(line_.file);
    loading_ = true;
    Step([this] { main().FOpenBtn_Action(); });
    loading_ = false;
    const LoadResult& load = main().LastLoad();
    log_.Emit("start", {{"version", BRINDLEMARK_VERSION_TEXT},
                        {"command", Name()},
                        {"file", line_.file},
                        {"sha256", sha256_},
                        {"flashBytes", main().State().FBytesRead},
                        {"eepromBytes", main().State().EBytesRead},
                        {"baud", line_.baud.value_or(main().BaudRate())}});
    for (const Diagnostic& d : load.diagnostics)
      log_.Emit("message", {{"kind", KindName(d.kind)}, {"text", NormalizeLineBreaks(d.text)}});
    // An encrypted file's one line was the status line (printed by the display).
    if (load.Has(DiagnosticCode::Encrypted)) return Finish(Outcome::LoadFailed);
    if (failedByError_ || !load.loaded)
      return Finish(Outcome::LoadFailed,
                    std::string(Name()) + ": nothing was loaded from '" + line_.file + "'; nothing sent");
    // A project without its .eep is a project without an EEPROM image, not a damaged one.
    const bool eepromMissing = load.Has(DiagnosticCode::EepromMissing);
    const bool problems =
        std::any_of(load.diagnostics.begin(), load.diagnostics.end(),
                    [](const Diagnostic& d) { return d.code != DiagnosticCode::EepromMissing; });
    if (problems && !line_.force)
      return Finish(
          Outcome::LoadFailed,
          std::string(Name()) +
              ": the load reported a problem (above); nothing sent. Use --force to send it anyway.");
    if (eepromMissing)
      Message(
          "warning",
          "warning: the project has no EEPROM image (its .eep file does not exist); only the flash image is "
          "written.");
    if (line_.baud) {
      if (!main().UsableBaudRate(*line_.baud))
        return Finish(Outcome::Usage, std::string(Name()) + ": the BaudRate " + std::to_string(*line_.baud) +
                                          " is not a usable rate; the rate stays at " +
                                          std::to_string(main().BaudRate()) + ".");
      main().UseBaudRate(*line_.baud);
    }
    if (auto nothing = NothingToWrite()) return Finish(Outcome::NothingToWrite, *nothing);
    if (line_.trace) {
      main().SetTrace([this](bool toTarget, std::string_view bytes) {
        display_->Note(TraceLine(toTarget ? ">" : "<", bytes));
      });
    }
    return std::nullopt;
  }

  // Why the loaded file leaves nothing to write for the phases the options chose, decided before
  // any port is opened; nothing when there is something.
  std::optional<std::string> NothingToWrite() {
    const Globals& g = main().State();
    if (line_.command == Command::Erase)
      return g.FBytesRead > 0 ? std::nullopt
                              : std::optional<std::string>("Nothing to erase: no flash image is loaded");
    const bool flash = !line_.noFlash && g.FBytesRead > 0;
    const bool eeprom = !line_.noEeprom && g.EBytesRead > 0;
    if (flash || eeprom) return std::nullopt;
    if (line_.noFlash)
      return "Nothing to write: --no-flash leaves out the flash image and the file has no EEPROM image";
    if (line_.noEeprom)
      return "Nothing to write: --no-eeprom leaves out the EEPROM image and the file has no flash image";
    return "Nothing to write: the file holds no image";
  }

  void PortLine(const PortTry& tried) {
    json fields{{"port", tried.port}, {"status", StatusName(tried.status)}};
    if (tried.status == PortTry::Status::Skipped) {
      fields["reason"] = SkipReason(tried);
      skipped_.push_back(tried);
    }
    log_.Emit("port", fields);
  }

  std::optional<int> Connect() {
    Step([this] { main().ComportBtn_Action(); });
    if (failedByError_) return Finish(Outcome::NotFound);
    switch (main().LastSearch()) {
      case SearchOutcome::Found: {
        const Globals& g = main().State();
        json ids = nullptr;
        if (g.LoaderIds) ids = json(std::vector<uint32_t>(g.LoaderIds->begin(), g.LoaderIds->end()));
        log_.Emit("identified", {{"signature", HexNumber(static_cast<uint32_t>(g.TargID))},
                                 {"pageBytes", 2 * g.BlockSize},
                                 {"flashBytes", 2 * g.FlashEnd},
                                 {"loaderIds", ids}});
        return std::nullopt;
      }
      case SearchOutcome::NotRun:
      case SearchOutcome::NotFound:
      case SearchOutcome::Quit:
        // "Target not found" was shown; say for each port why it was passed by.
        for (const PortTry& tried : skipped_) display_->Note("  " + tried.port + ": " + SkipReason(tried));
        if (skipped_.empty()) display_->Note("  no serial port to try (name one with --port DEVICE)");
        return Finish(Outcome::NotFound);
      case SearchOutcome::Incomplete:
        return Finish(Outcome::Refused, "Identification failed: the target's reply to \"I\" was incomplete.");
      case SearchOutcome::Refused:
      case SearchOutcome::Failed:
        return Finish(Outcome::Refused);  // its message was shown
    }
    return Finish(Outcome::Refused);
  }

  std::optional<int> Program() {
    // The search just identified the target; the run follows at once on the same port.
    const RunRequest request{!line_.noFlash, !line_.noEeprom, false};
    Step([this, &request] {
      if (line_.command == Command::Download)
        main().Download(request);
      else
        main().Erase(request);
    });
    if (failedByError_) return Finish(Outcome::Failed);
    const RunReport& run = main().LastRun();
    switch (run.start) {
      case RunStart::Started:
        if (run.result.Clean()) return std::nullopt;
        if (run.result.end == RunEnd::Stopped || run.result.end == RunEnd::Quit)
          return Finish(Outcome::Stopped);
        return Finish(run.result.end == RunEnd::PortLost ? Outcome::PortLost : Outcome::Failed);
      case RunStart::NotIdentified:
        return Finish(Outcome::Refused);  // its message was shown
      case RunStart::DoesNotFit:
        return Finish(Outcome::DoesNotFit);  // its message was shown
      case RunStart::FileChanged:
        return Finish(Outcome::LoadFailed);  // its message was shown
      case RunStart::NothingToWrite:
        return Finish(Outcome::NothingToWrite);  // decided before the run; its line was shown
      case RunStart::NoAnswer:
      case RunStart::NotRun:
        break;
    }
    return Finish(
        Outcome::NoAnswer,
        std::string(Name()) +
            ": the target stopped answering (no \"KW\" to \"?\" before the run); nothing was written.");
  }

  const CommandLine& line_;
  EventLog& log_;
  CliSession session_;
  ProgressDisplay* display_ = nullptr;
  std::unique_ptr<RunLines> lines_;
  Main::Registration listening_;
  std::string sha256_;
  std::vector<PortTry> skipped_;
  bool loading_ = false;
  bool failedByError_ = false;
};

}  // namespace

int Run(const CommandLine& line) {
  EventLog log(std::cout, line.json);
  return Runner(line, log).Run();
}

}  // namespace bm::cli
