// brindlemark-cli download and erase: the engine's load, port search, then download or erase (and
// stop when asked), each with an explicit request, heard as an observer. Unattended use must
// never pass a failure off as success, so every outcome maps to its own exit status; with --json
// each step is also told as a JSON line on stdout.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/CliProgress.h"
#include "app/cli/CliRecord.h"
#include "app/cli/CliSession.h"
#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/FileCheck.h"
#include "app/cli/Interrupts.h"
#include "app/cli/LineBreaks.h"
#include "app/cli/System.h"
#include "base/ByteTrace.h"
#include "base/HexText.h"
#include "base/RuntimeExceptionPlus.h"
#include "shell/core/RunTexts.h"
#include "shell/core/SkipReason.h"

namespace bm::cli {
namespace {

using json = nlohmann::ordered_json;

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

// What the engine tells while it works, as lines: the ports the search tries, the run's phases,
// progress and failures as JSON lines and on stderr (with the run's rate and time left beside the
// bar), each finding of a load and each byte of the trace on stderr.
class RunLines : public Engine::Observer {
 public:
  RunLines(EventLog& log, ProgressBar& bar, bool quiet, std::function<void(const PortTry&)> portTried,
           std::function<void(const std::string&)> failed)
      : log_(log), bar_(bar), quiet_(quiet), portTried_(std::move(portTried)), failed_(std::move(failed)) {}

  void OnPortTried(const PortTry& tried) override { portTried_(tried); }

  void OnLog(const LogLine& line) override {
    if (line.kind == LogLine::Kind::Trace)
      bar_.Note(TraceLine(line.toTarget ? ">" : "<", line.bytes));
    else if (!(quiet_ && line.finding.code == DiagnosticCode::Encrypted))
      bar_.Note(NormalizeLineBreaks(line.finding.text));
  }
  void OnReloaded(const LoadResult&, const std::string& changed, bool accepted) override {
    if (accepted && !quiet_) bar_.Note(changed + " changed on disk: loaded again");
  }
  void OnPhase(Phase phase) override {
    phase_ = phase;
    lastPercent_ = -1;
    phaseStart_ = log_.Seconds();
    bar_.NewPhase();
    if (phase != Phase::Erase && !quiet_) bar_.Note(PhaseText(phase));
    log_.Emit("phase", {{"name", PhaseName(phase)}});
  }
  void OnProgress(int percent, int64_t done, int64_t total) override {
    // The last page may reach past the image end: the bar and the lines stop at 100 %.
    percent = std::min(percent, 100);
    done = std::min(done, total);
    const double elapsed = log_.Seconds() - phaseStart_;
    const double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
    const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
    bar_.SetRate(rate, left);
    bar_.SetProgress(percent);
    if (percent == lastPercent_) return;  // at most one line per whole percent
    lastPercent_ = percent;
    log_.Emit("progress", {{"phase", PhaseName(phase_)},
                           {"percent", percent},
                           {"bytes", done},
                           {"totalBytes", total},
                           {"bytesPerSecond", std::lround(rate)},
                           {"secondsLeft", Millis(left)}});
  }
  void OnFailure(Failure failure, bool) override { failed_(CommunicationErrorText(failure)); }

 private:
  EventLog& log_;
  ProgressBar& bar_;
  bool quiet_;
  std::function<void(const PortTry&)> portTried_;
  std::function<void(const std::string&)> failed_;
  Phase phase_ = Phase::Flash;
  int lastPercent_ = -1;
  double phaseStart_ = 0;
};

class Runner {
 public:
  Runner(const CommandLine& line, EventLog& log)
      : line_(line),
        log_(log),
        session_(PortsOf(line)),
        bar_(std::cerr, StderrIsTerminal(), line.quiet),
        lines_(
            log_, bar_, line.quiet, [this](const PortTry& tried) { PortLine(tried); },
            [this](const std::string& text) { Message("error", text); }) {
    listening_ = engine().Listen(lines_);
    engine().SetConnectAttempts(line.connectAttempts);
    engine().SetReplyWindow(line.replyTimeoutMs);
    if (line.waitAfterOpenMs) engine().SetWaitAfterOpen(*line.waitAfterOpenMs);
    // --verify must know whether the loader can, even for a file that names no loader ID.
    engine().AlwaysAskLoaderIds(line.verify);
    // An option beats the file's rate; BRINDLEMARK_BAUD only the built-in one.
    engine().SetBaudSources({line.baud, line.defaultBaud});
  }

  int Run() {
    Interrupts interrupts(session_.loop, [this] { engine().Quit(); });
    if (auto end = Load()) return *end;
    // A signal during the load: no port is touched.
    if (Interrupts::Received()) return Finish(Outcome::Stopped);
    // --record: the board's row exists, unfinished, before its port is touched.
    if (auto refusal = record_.Begin(load_)) return Finish(refusal->outcome, refusal->text);
    if (auto end = Connect()) return *end;
    if (auto end = Program()) return *end;
    if (line_.stop) engine().Stop();
    return Finish(Outcome::Done, std::string(Name()) + ": done");
  }

 private:
  static app::PortOptions PortsOf(const CommandLine& line) {
    app::PortOptions options = line.ports;
    options.onlyNamed = !options.devices.empty();
    return options;
  }
  Engine& engine() { return session_.engine; }
  const char* Name() const { return CommandName(line_.command); }
  RunKind Kind() const { return line_.command == Command::Erase ? RunKind::Erase : RunKind::Download; }

  // One line for the user (stderr) and, with --json, a "message" line.
  void Message(const char* kind, const std::string& text) {
    if (!(line_.quiet && std::string(kind) == "info")) bar_.Note(NormalizeLineBreaks(text));
    log_.Emit("message", {{"kind", kind}, {"text", NormalizeLineBreaks(text)}});
  }

  // Runs one engine operation; an error that escapes it is told as the window's hook would.
  bool Step(const std::function<void()>& operation) {
    try {
      operation();
      return true;
    } catch (const std::bad_alloc&) {
      Message("error", "Unexpected error: out of memory");  // its what() is only a class name
      return false;
    } catch (...) {
      // The trail names the code's places (dParamList.LoadPackFile, ...): for a person reading
      // the run, not for -q, which keeps only what went wrong.
      const std::exception_ptr error = std::current_exception();
      Message("error", "Unexpected error: " + RuntimeExceptionPlus::Message(error) +
                           (line_.quiet ? "" : NormalizeLineBreaks(RuntimeExceptionPlus::stackTrace(error))));
      return false;
    }
  }

  // The result line, and the status to exit with.
  int Finish(Outcome outcome, const std::string& note = {}) {
    if (Interrupts::Received()) outcome = Outcome::Stopped;
    if (!note.empty()) Message(outcome == Outcome::Done ? "info" : "error", note);
    ClosingLine(outcome);
    json failures = json::array();
    for (Failure f : run_.result.failures) failures.push_back(Number(f));
    const auto hash = [](const std::optional<WrittenRange>& range) {
      return range ? json(range->sha256) : json(nullptr);
    };
    json fields{{"failures", failures},
                {"sha256", load_.sha256},
                {"flashSha256", hash(run_.flash)},
                {"eepromSha256", hash(run_.eeprom)}};
    fields.update(VerifyFields());
    if (auto refusal = record_.Finish(outcome, run_, log_.Seconds())) {
      Message("error", refusal->text);
      if (outcome == Outcome::Done) outcome = refusal->outcome;
    }
    if (record_.Id()) fields["recordId"] = *record_.Id();
    if (!record_.BoardSerial().empty()) fields["boardSerial"] = record_.BoardSerial();
    if (line_.command == Command::Download) {
      fields["pagesWritten"] = run_.result.pagesWritten;
      fields["pagesSkipped"] = run_.result.pagesSkipped;
    }
    return EmitResult(log_, outcome, fields);
  }

  // With --verify: whether the chip holds the image, what was checked, and where it differs.
  json VerifyFields() const {
    json fields = json::object();
    if (!line_.verify) return fields;
    const std::optional<Verification>& check = run_.result.verification;
    const bool verified = run_.verify == VerifyStatus::Verified;
    fields["verified"] = verified;
    std::string checked;
    if (verified) {
      checked = check->What();
      // A loader of the first version checks the flash with one CRC-16 only: say so.
      if (check->checkBits < 32) checked += " (one CRC-16)";
    }
    fields["checked"] = checked.empty() ? json(nullptr) : json(checked);
    if (run_.verify == VerifyStatus::Differs) {
      if (check->firstDifferingPage >= 0) fields["firstDifferingPage"] = check->firstDifferingPage;
      if (check->firstDifferingEepromByte >= 0)
        fields["firstDifferingEepromByte"] = check->firstDifferingEepromByte;
    }
    return fields;
  }

  // The last line on stderr: what the run wrote and in how long, or what an interruption left.
  void ClosingLine(Outcome outcome) {
    const std::vector<Phase>& phases = run_.phases;
    if (outcome == Outcome::Stopped && !phases.empty()) {
      if (run_.result.end != RunEnd::Done) Note(std::string("interrupted: ") + PartlyDone(phases.back()));
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
    const RunResult& run = run_.result;
    const bool nothingWritten = run.pagesWritten == 0 && (!run_.eeprom || run.eepromUnchanged);
    std::string text = nothingWritten ? "already on the chip:" : "written:";
    if (run_.flash)
      text += " flash " + std::to_string(run_.flash->bytes) + " bytes (sha256 " + run_.flash->sha256 + ")";
    if (run_.eeprom)
      text += std::string(run_.flash ? "," : "") + " EEPROM " + std::to_string(run_.eeprom->bytes) +
              " bytes (sha256 " + run_.eeprom->sha256 + ")";
    if (run.pagesSkipped > 0 && !nothingWritten)
      text += ", " + std::to_string(run.pagesWritten) + " of " +
              std::to_string(run.pagesWritten + run.pagesSkipped) + " pages (the others were on the chip)";
    const bool verified = run_.verify == VerifyStatus::Verified;
    Note(text + (verified ? ", " + VerifyFields()["checked"].get<std::string>() + " verified" : "") + " in " +
         seconds);
  }

  // A line for the user on stderr, unless --quiet asked for errors only.
  void Note(const std::string& line) {
    if (!line_.quiet) bar_.Note(line);
  }

  std::optional<int> Load() {
    if (const std::optional<std::string> why = WhyNotLoadable(line_.file))
      return Finish(Outcome::LoadFailed, std::string(Name()) + ": cannot load '" + line_.file + "': " + *why);
    const bool read = Step([this] { load_ = engine().Load(line_.file); });
    // The rate the run uses: a damaged file names none, so the options' or the built-in one (the
    // port object's own rate before any load is no rate of this run); a rate the port refuses is
    // named as given.
    int baud = load_.baud;
    if (load_.baudProblem)
      baud = line_.baud.value_or(line_.defaultBaud.value_or(load_.baud));
    else if (!read || !load_.loaded)
      baud = ChooseBaudRate({line_.baud, line_.defaultBaud}, std::nullopt).rate;
    log_.Emit("start", {{"version", BRINDLEMARK_VERSION_TEXT},
                        {"command", Name()},
                        {"file", line_.file},
                        {"sha256", load_.sha256},
                        {"flashBytes", load_.flashBytes},
                        {"eepromBytes", load_.eepromBytes},
                        {"baud", baud},
                        {"replyTimeoutMs", engine().ReplyWindow()}});
    // Each finding was printed as the load found it; with --json it is told with its kind.
    for (const Diagnostic& d : load_.diagnostics)
      log_.Emit("message", {{"kind", KindName(d.kind)}, {"text", NormalizeLineBreaks(d.text)}});
    if (load_.Has(DiagnosticCode::Encrypted)) return Finish(Outcome::LoadFailed);
    if (!read || !load_.loaded)
      return Finish(Outcome::LoadFailed,
                    std::string(Name()) + ": nothing was loaded from '" + line_.file + "'; nothing sent");
    // A project without its .eep is a project without an EEPROM image, not a damaged one.
    const bool eepromMissing = load_.Has(DiagnosticCode::EepromMissing);
    const bool problems =
        std::any_of(load_.diagnostics.begin(), load_.diagnostics.end(),
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
    if (load_.baudProblem) return Finish(Outcome::Usage, std::string(Name()) + ": " + *load_.baudProblem);
    if (auto nothing = engine().NothingToWrite(Kind(), Request()))
      return Finish(Outcome::NothingToWrite, NothingToWriteText(*nothing));
    if (line_.trace) {
      engine().TraceWire(true);
      // What the system's ports cannot do that the user may expect (Windows: the adapter's latency).
      if (const std::string note = app::PortTraceNote(); !note.empty()) Note(note);
    }
    return std::nullopt;
  }

  // The run the options ask for. The search just identified the target; the run follows at once
  // on the same port.
  RunRequest Request() const {
    RunRequest request;
    request.flash = !line_.noFlash;
    request.eeprom = !line_.noEeprom;
    request.identifyAgain = false;
    request.skipUnchanged = true;  // where the loader can tell what the chip already holds
    if (line_.verify) request.verify = VerifyMode::Required;
    return request;
  }

  void PortLine(const PortTry& tried) {
    json fields{{"port", tried.port}, {"status", StatusName(tried.status)}};
    if (tried.status == PortTry::Status::Skipped) {
      fields["reason"] = SkipReason(tried);
      fields["reasonCode"] = SkipReasonCode(tried);
    }
    log_.Emit("port", fields);
  }

  // The chip and loader the search found; `accepted` false for one the file's IDs refused, which
  // is also named on stderr (the refusal's message names only what was expected).
  void Identified(bool accepted) {
    const Identification& found = search_.identification;
    const TargetInfo& target = search_.target;
    json ids = nullptr;
    if (target.LoaderIds)
      ids = json(std::vector<uint32_t>(target.LoaderIds->begin(), target.LoaderIds->end()));
    log_.Emit("identified", {{"signature", found.signatureText ? json(*found.signatureText) : json(nullptr)},
                             {"pageBytes", 2 * target.BlockSize},
                             {"flashBytes", 2 * target.FlashEnd},
                             {"loaderIds", ids},
                             {"accepted", accepted}});
    if (accepted) return;
    std::string text = "found: signature " + found.signatureText.value_or("?");
    if (found.loaderIdText) text += ", loader ID " + *found.loaderIdText;
    bar_.Note(text + " (refused)");
  }

  // One closing hint after "Target not found": the ports and the rate tried, and what to try. A
  // different rate is suggested only when a port was opened and asked: when none would open,
  // the rate cannot be the reason (the lines above say what was).
  std::string NotFoundHint() const {
    std::string ports;
    bool asked = false, garbled = false;
    for (const PortTry& tried : search_.passedBy) {
      ports += (ports.empty() ? "" : ", ") + tried.port;
      asked |= tried.liveness != Liveness::NotOpened;
      garbled |= tried.liveness == Liveness::WrongAnswer;
    }
    if (!asked) return "hint: no port could be opened (the reasons are above); the rate was not tried.";
    const int baud = search_.baud;
    const int other = baud == 115200 ? 57600 : 115200;
    const std::string start = garbled
                                  ? "hint: an answer came on " + ports + " at " + std::to_string(baud) +
                                        " baud, but not \"KW\": the rate is likely wrong."
                                  : "hint: no loader answered on " + ports + " at " + std::to_string(baud) +
                                        " baud. Is the loader running? Is the rate right?";
    return start + " Try --baud " + std::to_string(other) +
           (line_.connectAttempts > 1
                ? "."
                : ", or --connect-attempts 5 for a board that resets when the port opens.");
  }

  std::optional<int> Connect() {
    if (!Step([this] { search_ = engine().Search(); })) return Finish(Outcome::NotFound);
    record_.Found(*session_.ports.list, search_);
    const Identification& found = search_.identification;
    switch (search_.outcome) {
      case SearchOutcome::Found:
        Note("found on " + search_.port);
        Identified(true);
        return std::nullopt;
      case SearchOutcome::NotRun:
      case SearchOutcome::NotFound:
      case SearchOutcome::Quit:
        if (search_.outcome != SearchOutcome::Quit) Message("error", kTargetNotFound);
        // Say for each port why it was passed by.
        for (const PortTry& tried : search_.passedBy) bar_.Note("  " + tried.port + ": " + SkipReason(tried));
        if (search_.passedBy.empty()) bar_.Note("  no serial port to try (name one with --port DEVICE)");
        if (!search_.passedBy.empty()) bar_.Note(NotFoundHint());
        return Finish(Outcome::NotFound);
      case SearchOutcome::Incomplete:
        return Finish(Outcome::Refused, "Identification failed: the target's reply to \"I\" was incomplete.");
      case SearchOutcome::Refused:
        if (!found.message.empty()) Message("error", found.message);
        Identified(false);
        return Finish(Outcome::Refused);
      case SearchOutcome::Failed:
        if (!found.message.empty()) Message("error", found.message);
        return Finish(Outcome::Refused);
    }
    return Finish(Outcome::Refused);
  }

  std::optional<int> Program() {
    const RunKind kind = Kind();
    RunRequest request = Request();
    // --serial-number: the board's number, taken (and committed) before anything is written.
    if (kind == RunKind::Download)
      if (auto refusal = record_.TakeSerial(request)) return Finish(refusal->outcome, refusal->text);
    if (!Step([this, kind, &request] {
          run_ = kind == RunKind::Download ? engine().Download(request) : engine().Erase(request);
        }))
      return Finish(Outcome::Failed);
    switch (run_.start) {
      case RunStart::Started:
        if (run_.result.Clean() && run_.result.verification) {
          if (run_.verify == VerifyStatus::Verified) return std::nullopt;
          Message("error", *VerifyFailedText(*run_.result.verification));
          return Finish(Outcome::VerifyFailed);
        }
        if (run_.result.Clean()) return std::nullopt;
        if (run_.result.end == RunEnd::Stopped || run_.result.end == RunEnd::Quit)
          return Finish(Outcome::Stopped);
        return Finish(run_.result.end == RunEnd::PortLost ? Outcome::PortLost : Outcome::Failed);
      case RunStart::NotIdentified:
        Message("error", run_.why.empty() ? run_.identification.message : run_.why);
        return Finish(Outcome::Refused);
      case RunStart::DoesNotFit:
        Message("error", run_.why);
        return Finish(Outcome::DoesNotFit);
      case RunStart::CannotVerify:
        Message("error", run_.why);
        return Finish(Outcome::Refused);
      case RunStart::FileChanged:
        Message("error", FileChangedText(run_.reloaded, run_.why));
        return Finish(Outcome::LoadFailed);
      case RunStart::NothingToWrite:
        return Finish(Outcome::NothingToWrite, NothingToWriteText(*run_.nothing));
      case RunStart::NoAnswer:
        Message("error", kTargetNotFound);
        break;
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
  ProgressBar bar_;
  RunLines lines_;
  Engine::Registration listening_;
  LoadResult load_;
  SearchResult search_;
  RunReport run_;
  BoardRecord record_{line_};
};

}  // namespace

int Run(const CommandLine& line) {
  EventLog log(std::cout, line.json);
  return Runner(line, log).Run();
}

}  // namespace bm::cli
