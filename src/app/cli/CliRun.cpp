// brindlemark-cli download and erase: Load, Comport, then Download or Erase (and Stop when
// asked), run through the same handlers the window uses. Unattended use must never pass a
// failure off as success, so every outcome maps to its own exit status; with --json each step
// is also told as a JSON line on stdout.
#include <unistd.h>

#include <QCryptographicHash>
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
#include "app/cli/FileCheck.h"
#include "app/cli/Interrupts.h"
#include "base/ByteTrace.h"
#include "base/HexText.h"
#include "base/RuntimeExceptionPlus.h"
#include "images/FileReads.h"
#include "images/TextFile.h"
#include "shell/core/SkipReason.h"

namespace bm::cli {
namespace {

using json = nlohmann::ordered_json;

std::string Sha256Of(std::string_view bytes) {
  return QCryptographicHash::hash(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                                  QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

// The phase's own words for a run that ended in it before its end.
const char* PartlyDone(Phase phase) {
  switch (phase) {
    case Phase::Flash:
      return "the flash is partly written";
    case Phase::Eeprom:
      return "the EEPROM is partly written";
    case Phase::Erase:
      return "the flash is partly erased";
  }
  return "";
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

  // The phases the run reached, in order.
  const std::vector<Phase>& Phases() const { return phases_; }
  bool Reached(Phase phase) const {
    return std::find(phases_.begin(), phases_.end(), phase) != phases_.end();
  }

  void OnPhase(Phase phase) override {
    phase_ = phase;
    phases_.push_back(phase);
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
  std::vector<Phase> phases_;
  Phase phase_ = Phase::Flash;
  int lastPercent_ = -1;
  double phaseStart_ = 0;
};

class Runner {
 public:
  Runner(const CommandLine& line, EventLog& log) : line_(line), log_(log), session_(PortsOf(line)) {
    auto display = std::make_unique<ProgressDisplay>(std::cerr, isatty(STDERR_FILENO) == 1,
                                                     session_.dialogs.messages, line.quiet);
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
    main().SetConnectAttempts(line.connectAttempts);
    main().SetReplyWindow(line.replyTimeoutMs);
    if (line.waitAfterOpenMs) main().SetWaitAfterOpen(*line.waitAfterOpenMs);
    // --verify must know whether the loader can, even for a file that names no loader ID.
    main().AlwaysAskLoaderIds(line.verify);
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
    if (print && !(line_.quiet && std::string(kind) == "info")) display_->Note(NormalizeLineBreaks(text));
    log_.Emit("message", {{"kind", kind}, {"text", NormalizeLineBreaks(text)}});
  }

  // The result line, and the status to exit with.
  int Finish(Outcome outcome, const std::string& note = {}) {
    if (Interrupts::Received()) outcome = Outcome::Stopped;
    const int exitCode = ExitStatusOf(outcome);
    if (!note.empty()) Message(outcome == Outcome::Done ? "info" : "error", note);
    const Written written = WhatWasWritten();
    ClosingLine(outcome, written);
    json failures = json::array();
    for (Failure f : main().LastRun().result.failures) failures.push_back(Number(f));
    json fields{
        {"outcome", NameOf(outcome)},          {"failures", failures}, {"exitCode", exitCode},
        {"seconds", Millis(log_.Seconds())},   {"sha256", sha256_},    {"flashSha256", written.flashSha256},
        {"eepromSha256", written.eepromSha256}};
    fields.update(VerifyFields());
    if (line_.command == Command::Download) {
      fields["pagesWritten"] = main().LastRun().result.pagesWritten;
      fields["pagesSkipped"] = main().LastRun().result.pagesSkipped;
    }
    log_.Emit("result", fields);
    return exitCode;
  }

  // With --verify: whether the chip holds the image, what was checked, and where it differs.
  json VerifyFields() const {
    json fields = json::object();
    if (!line_.verify) return fields;
    fields["verified"] = verified_;
    fields["checked"] = checked_.empty() ? json(nullptr) : json(checked_);
    if (firstDifferingPage_ >= 0) fields["firstDifferingPage"] = firstDifferingPage_;
    if (firstDifferingEepromByte_ >= 0) fields["firstDifferingEepromByte"] = firstDifferingEepromByte_;
    return fields;
  }

  // The images the run's phases went to write: the flash from 0 to its end rounded up to the
  // target's page (0xFF-filled, blank pages included), the EEPROM from 0 to the image's end.
  // A hash is null for a phase the run did not reach (an erase writes no image).
  struct Written {
    json flashSha256 = nullptr;
    json eepromSha256 = nullptr;
    int64_t flashBytes = 0;
    int64_t eepromBytes = 0;
  };
  Written WhatWasWritten() const {
    Written written;
    const Globals& g = session_.main->State();
    if (line_.command == Command::Download && lines_->Reached(Phase::Flash)) {
      const int32_t page = 2 * g.BlockSize;
      const int32_t end = FlashEndBytes(g.FBytesRead, g.FlashEnd);
      written.flashBytes = page > 0 ? (end + page - 1) / page * page : end;
      written.flashBytes = std::min<int64_t>(written.flashBytes, static_cast<int64_t>(g.FlashArr.size()));
      written.flashSha256 = Sha256Of(std::string_view(reinterpret_cast<const char*>(g.FlashArr.data()),
                                                      static_cast<size_t>(written.flashBytes)));
    }
    if (lines_->Reached(Phase::Eeprom) || session_.main->LastRun().result.eepromUnchanged) {
      written.eepromBytes = EepromEnd(g, g.OrgEEpEnd);
      written.eepromSha256 = Sha256Of(std::string_view(reinterpret_cast<const char*>(g.EEpromArr.data()),
                                                       static_cast<size_t>(written.eepromBytes)));
    }
    return written;
  }

  // The last line on stderr: what the run wrote and in how long, or what an interruption left.
  void ClosingLine(Outcome outcome, const Written& written) {
    const std::vector<Phase>& phases = lines_->Phases();
    if (outcome == Outcome::Stopped && !phases.empty()) {
      if (main().LastRun().result.end != RunEnd::Done)
        Note(std::string("interrupted: ") + PartlyDone(phases.back()));
      return;
    }
    if (outcome != Outcome::Done || phases.empty()) return;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", log_.Seconds());
    if (line_.command == Command::Erase) {
      Note(std::string("erased the flash pages of the image in ") + seconds);
      return;
    }
    // Pages the chip already held were left alone: say so, and whether anything was written.
    const RunResult& run = main().LastRun().result;
    const bool nothingWritten =
        run.pagesWritten == 0 && (written.eepromSha256.is_null() || run.eepromUnchanged);
    std::string text = nothingWritten ? "already on the chip:" : "written:";
    if (!written.flashSha256.is_null())
      text += " flash " + std::to_string(written.flashBytes) + " bytes (sha256 " +
              written.flashSha256.get<std::string>() + ")";
    if (!written.eepromSha256.is_null())
      text += std::string(written.flashSha256.is_null() ? "" : ",") + " EEPROM " +
              std::to_string(written.eepromBytes) + " bytes (sha256 " +
              written.eepromSha256.get<std::string>() + ")";
    if (run.pagesSkipped > 0 && !nothingWritten)
      text += ", " + std::to_string(run.pagesWritten) + " of " +
              std::to_string(run.pagesWritten + run.pagesSkipped) + " pages (the others were on the chip)";
    Note(text + (verified_ ? ", " + checked_ + " verified" : "") + " in " + seconds);
  }

  // A line for the user on stderr, unless --quiet asked for errors only.
  void Note(const std::string& line) {
    if (!line_.quiet) display_->Note(line);
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
    if (const std::optional<std::string> why = WhyNotLoadable(line_.file))
      return Finish(Outcome::LoadFailed, std::string(Name()) + ": cannot load '" + line_.file + "': " + *why);
    session_.dialogs.file = line_.file;
    loading_ = true;
    {
      const FileReads reads;
      Step([this] { main().FOpenBtn_Action(); });
      // The hash of the bytes the load used, not of a second read that may see a newer file.
      const std::optional<std::filesystem::path> file = TextFile::Resolve(line_.file);
      if (const std::string* bytes = file ? reads.BytesOf(*file) : nullptr) sha256_ = Sha256Of(*bytes);
    }
    loading_ = false;
    const LoadResult& load = main().LastLoad();
    // An option beats the file's rate; BRINDLEMARK_BAUD only the built-in one.
    std::optional<int> baud = line_.baud;
    if (!baud && !load.fileNamesRate) baud = line_.defaultBaud;
    log_.Emit("start", {{"version", BRINDLEMARK_VERSION_TEXT},
                        {"command", Name()},
                        {"file", line_.file},
                        {"sha256", sha256_},
                        {"flashBytes", main().State().FBytesRead},
                        {"eepromBytes", main().State().EBytesRead},
                        {"baud", baud.value_or(main().BaudRate())},
                        {"replyTimeoutMs", main().ReplyWindow()}});
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
    if (baud) {
      if (!main().UsableBaudRate(*baud))
        return Finish(Outcome::Usage, std::string(Name()) + ": the BaudRate " + std::to_string(*baud) +
                                          " is not a usable rate; the rate stays at " +
                                          std::to_string(main().BaudRate()) + ".");
      main().UseBaudRate(*baud);
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

  // The chip and loader the search found; `accepted` false for one the file's IDs refused, which
  // is also named on stderr (the refusal's box names only what was expected).
  void Identified(bool accepted) {
    const Globals& g = main().State();
    const Identification& found = main().LastIdentification();
    json ids = nullptr;
    if (g.LoaderIds) ids = json(std::vector<uint32_t>(g.LoaderIds->begin(), g.LoaderIds->end()));
    log_.Emit("identified", {{"signature", found.signatureText ? json(*found.signatureText) : json(nullptr)},
                             {"pageBytes", 2 * g.BlockSize},
                             {"flashBytes", 2 * g.FlashEnd},
                             {"loaderIds", ids},
                             {"accepted", accepted}});
    if (accepted) return;
    std::string text = "found: signature " + found.signatureText.value_or("?");
    if (found.loaderIdText) text += ", loader ID " + *found.loaderIdText;
    display_->Note(text + " (refused)");
  }

  // One closing hint after "Target not found": the ports and the rate tried, and what to try.
  std::string NotFoundHint() {
    std::string ports;
    for (const PortTry& tried : skipped_) ports += (ports.empty() ? "" : ", ") + tried.port;
    const int baud = main().BaudRate();
    const int other = baud == 115200 ? 57600 : 115200;
    return "hint: no loader answered on " + ports + " at " + std::to_string(baud) +
           " baud. Is the loader running? Is the rate right? Try --baud " + std::to_string(other) +
           (line_.connectAttempts > 1
                ? "."
                : ", or --connect-attempts 5 for a board that resets when the port opens.");
  }

  std::optional<int> Connect() {
    Step([this] { main().ComportBtn_Action(); });
    if (failedByError_) return Finish(Outcome::NotFound);
    switch (main().LastSearch()) {
      case SearchOutcome::Found:
        Identified(true);
        return std::nullopt;
      case SearchOutcome::NotRun:
      case SearchOutcome::NotFound:
      case SearchOutcome::Quit:
        // "Target not found" was shown; say for each port why it was passed by.
        for (const PortTry& tried : skipped_) display_->Note("  " + tried.port + ": " + SkipReason(tried));
        if (skipped_.empty()) display_->Note("  no serial port to try (name one with --port DEVICE)");
        if (!skipped_.empty()) display_->Note(NotFoundHint());
        return Finish(Outcome::NotFound);
      case SearchOutcome::Incomplete:
        return Finish(Outcome::Refused, "Identification failed: the target's reply to \"I\" was incomplete.");
      case SearchOutcome::Refused:
        Identified(false);
        return Finish(Outcome::Refused);  // its message was shown
      case SearchOutcome::Failed:
        return Finish(Outcome::Refused);  // its message was shown
    }
    return Finish(Outcome::Refused);
  }

  // The flash check's answer: on to the end when the chip holds the image; otherwise exit 9 (its
  // box was shown; the page goes in the JSON too).
  std::optional<int> Verified(const Verification& check) {
    verified_ = check.outcome == Verification::Outcome::Verified;
    if (verified_) {
      checked_ = check.What();
      // A loader of the first version checks the flash with one CRC-16 only: say so.
      if (check.checkBits < 32) checked_ += " (one CRC-16)";
      return std::nullopt;
    }
    if (check.outcome == Verification::Outcome::Differs) {
      firstDifferingPage_ = check.firstDifferingPage;
      firstDifferingEepromByte_ = check.firstDifferingEepromByte;
    }
    return Finish(Outcome::VerifyFailed);
  }

  std::optional<int> Program() {
    // The search just identified the target; the run follows at once on the same port.
    RunRequest request{!line_.noFlash, !line_.noEeprom, false};
    request.skipUnchanged = true;  // where the loader can tell what the chip already holds
    if (line_.verify) request.verify = VerifyMode::Required;
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
        if (run.result.Clean() && run.result.verification) return Verified(*run.result.verification);
        if (run.result.Clean()) return std::nullopt;
        if (run.result.end == RunEnd::Stopped || run.result.end == RunEnd::Quit)
          return Finish(Outcome::Stopped);
        return Finish(run.result.end == RunEnd::PortLost ? Outcome::PortLost : Outcome::Failed);
      case RunStart::NotIdentified:
        return Finish(Outcome::Refused);  // its message was shown
      case RunStart::DoesNotFit:
        return Finish(Outcome::DoesNotFit);  // its message was shown
      case RunStart::CannotVerify:
        return Finish(Outcome::Refused);  // its message was shown
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
  bool verified_ = false;
  int32_t firstDifferingPage_ = -1;
  int32_t firstDifferingEepromByte_ = -1;
  std::string checked_;  // what a verified run checked: "flash and EEPROM", "flash", ...
};

}  // namespace

int Run(const CommandLine& line) {
  EventLog log(std::cout, line.json);
  return Runner(line, log).Run();
}

}  // namespace bm::cli
