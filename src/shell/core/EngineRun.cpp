// Download and erase: the checks before a run, the run itself with its events passed on, and a
// report of what its phases wrote and whether the chip was checked.
#include <exception>

#include "base/Sha256.h"
#include "link/Run.h"
#include "link/Verify.h"
#include "shell/core/Engine.h"

namespace bm {

// Passes a run's events on to the observers and notes the phases the run reached.
class Engine::RunTracker : public RunObserver {
 public:
  RunTracker(Engine& engine, RunReport& report) : engine_(engine), report_(report) {}

  void OnPhase(Phase phase) override {
    report_.phases.push_back(phase);
    engine_.Tell([phase](Observer& o) { o.OnPhase(phase); });
  }
  void OnProgress(int percent, int64_t done, int64_t total) override {
    engine_.Tell([=](Observer& o) { o.OnProgress(percent, done, total); });
  }
  void OnFailure(Failure failure, bool mayGoOn) override {
    engine_.Tell([=](Observer& o) { o.OnFailure(failure, mayGoOn); });
  }

 private:
  Engine& engine_;
  RunReport& report_;
};

namespace {

WrittenRange RangeOf(const std::vector<uint8_t>& buffer, int64_t bytes) {
  bytes = std::clamp<int64_t>(bytes, 0, static_cast<int64_t>(buffer.size()));
  return {bytes, Sha256Hex(std::string_view(reinterpret_cast<const char*>(buffer.data()),
                                            static_cast<size_t>(bytes)))};
}

VerifyStatus StatusOf(const Verification& check) {
  switch (check.outcome) {
    case Verification::Outcome::Verified:
      return VerifyStatus::Verified;
    case Verification::Outcome::Differs:
      return VerifyStatus::Differs;
    case Verification::Outcome::NoAnswer:
      break;
  }
  return VerifyStatus::NoAnswer;
}

// A run's own bytes over the loaded EEPROM image, for as long as it lives: the loaded image is
// as it was afterwards, so the next run (and the window) never sees another board's bytes.
class EepromPatched {
 public:
  EepromPatched(ImageBuffers& image, const std::optional<RunRequest::EepromPatch>& patch) : image_(image) {
    if (!patch || patch->bytes.empty()) return;
    const auto at = static_cast<size_t>(patch->address);
    if (at + patch->bytes.size() > image.EEpromArr.size()) return;  // the front checked the address
    saved_.assign(image.EEpromArr.begin() + static_cast<std::ptrdiff_t>(at),
                  image.EEpromArr.begin() + static_cast<std::ptrdiff_t>(at + patch->bytes.size()));
    at_ = at;
    end_ = image.EBytesRead;
    std::copy(patch->bytes.begin(), patch->bytes.end(),
              image.EEpromArr.begin() + static_cast<std::ptrdiff_t>(at));
    image.EBytesRead = std::max(image.EBytesRead, static_cast<int32_t>(at + patch->bytes.size()));
  }
  ~EepromPatched() {
    if (saved_.empty()) return;
    std::copy(saved_.begin(), saved_.end(), image_.EEpromArr.begin() + static_cast<std::ptrdiff_t>(at_));
    image_.EBytesRead = end_;
  }
  EepromPatched(const EepromPatched&) = delete;
  EepromPatched& operator=(const EepromPatched&) = delete;

 private:
  ImageBuffers& image_;
  std::vector<uint8_t> saved_;
  size_t at_ = 0;
  int32_t end_ = 0;
};

}  // namespace

std::optional<NothingReason> Engine::NothingToWrite(RunKind kind, const RunRequest& request) const {
  if (kind == RunKind::Erase)
    return request.flash && g.FBytesRead > 0 ? std::nullopt : std::optional(NothingReason::NoFlashToErase);
  if ((request.flash && g.FBytesRead > 0) || (request.eeprom && g.EBytesRead > 0)) return std::nullopt;
  if (!request.flash) return NothingReason::FlashLeftOut;
  if (!request.eeprom) return NothingReason::EepromLeftOut;
  return NothingReason::NoImage;
}

bool Engine::ReadyToRun(bool identifyAgain, RunReport& report) {
  lastLiveness_ = bootloader.CheckAlive();
  if (lastLiveness_ != Liveness::Alive) {
    // The target went away since the search (a reset, another rate, a pulled cable): reported
    // as the search reports it, with the port closed and nothing sent beyond "?".
    report.notAnswering = TriedPort(PortTry::Status::Skipped);
    ComPort.Close();
    g.COMok = false;
    report.start = RunStart::NoAnswer;
    return false;
  }
  g.COMok = true;
  // Another board may sit behind the port since it was identified: ask again before writing.
  if (identifyAgain) {
    report.identification = GetDevice();
    if (!report.identification.Identified()) {
      report.start = RunStart::NotIdentified;
      return false;
    }
  }
  if (auto problem = PageGeometryProblem(g.BlockSize, g.FlashEnd)) {
    report.why = *problem;  // not identified (or refused): nothing to program with
    report.start = RunStart::NotIdentified;
    return false;
  }
  return true;
}

RunReport Engine::Download(const RunRequest& request) { return RunOnTarget(RunKind::Download, request); }
RunReport Engine::Erase(const RunRequest& request) { return RunOnTarget(RunKind::Erase, request); }

RunReport Engine::RunOnTarget(RunKind kind, const RunRequest& request) {
  RunReport report;
  Running running(running_);
  bootloader.Interrupt(Interruption::None);
  if (!ReloadIfChanged(report)) return report;
  // Decided before the port is touched (an erase without a flash image would erase page 0). A
  // request that follows the window's check boxes keeps the window's exchange instead.
  if (kind == RunKind::Erase || !request.phaseWanted) {
    if ((report.nothing = NothingToWrite(kind, request))) {
      report.start = RunStart::NothingToWrite;
      return report;
    }
  }
  if (!ReadyToRun(request.identifyAgain, report)) return report;

  const auto wanted = [&request](Phase phase) {
    const bool asked = phase == Phase::Eeprom ? request.eeprom : request.flash;
    return asked && (!request.phaseWanted || request.phaseWanted(phase));
  };
  // Decided on the identification just made (a board swapped behind the port is the new one).
  const bool verify = kind == RunKind::Download &&
                      (request.verify == VerifyMode::Required ||
                       (request.verify == VerifyMode::WhenNamed && g.OrgBootID >= 0 && CanVerify(g)));
  if (kind == RunKind::Download) {
    if (request.verify == VerifyMode::Required && !CanVerify(g)) {
      report.why = kCannotVerifyText;
      report.start = RunStart::CannotVerify;
      return report;
    }
    if (wanted(Phase::Flash)) {
      if (auto problem = FlashFitProblem(g.FBytesRead, g.FlashEnd)) {
        report.why = *problem;
        report.start = RunStart::DoesNotFit;
        return report;
      }
    }
  }

  report.start = RunStart::Started;
  EepromPatched patched(g, request.eepromPatch);
  Tell([kind](Observer& o) { o.OnRunStarted(kind); });
  RunTracker tracker(*this, report);
  if (kind == RunKind::Download) {
    RunLimits limits{g, g.OrgEEpEnd, wanted};
    limits.verify = verify;
    limits.skipUnchanged = request.skipUnchanged;
    report.result = bm::Download(bootloader, g, limits, tracker);
  } else {
    // Erasing stops at the flash end whatever the image's size: that harms nothing.
    report.result = bm::Erase(bootloader, g, RunLimits{g, g.OrgEEpEnd, {}}, tracker);
  }
  // Stop, a quit or an unplugged adapter closed the port: the target is no longer connected.
  if (!ComPort.IsOpen()) g.COMok = false;
  DescribeWritten(kind, request, verify, report);
  Tell([kind, &report](Observer& o) { o.OnRunEnded(kind, report); });
  return report;
}

void Engine::DescribeWritten(RunKind kind, const RunRequest& request, bool verifyAsked,
                             RunReport& report) const {
  if (kind == RunKind::Download && report.Reached(Phase::Flash)) {
    const int64_t page = 2 * g.BlockSize;
    const int64_t end = FlashEndBytes(g.FBytesRead, g.FlashEnd);
    report.flash = RangeOf(g.FlashArr, page > 0 ? (end + page - 1) / page * page : end);
  }
  if (report.Reached(Phase::Eeprom) || report.result.eepromUnchanged)
    report.eeprom = RangeOf(g.EEpromArr, EepromEnd(g, g.OrgEEpEnd));

  if (report.result.verification)
    report.verify = StatusOf(*report.result.verification);
  else if (request.verify == VerifyMode::Off || kind == RunKind::Erase)
    report.verify = VerifyStatus::NotAsked;
  else if (!report.result.Clean() || !report.Reached(Phase::Flash) || verifyAsked)
    report.verify = VerifyStatus::NotReached;
  else if (g.OrgBootID < 0)
    report.verify = VerifyStatus::NoLoaderId;
  else
    report.verify = VerifyStatus::LoaderCannot;
}

}  // namespace bm
