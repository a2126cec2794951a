// Download, erase and Stop as the window runs them: the check before a run, mode 3 while it
// runs, the run's events as captions, progress and numbered "Communication error" boxes.
#include <exception>

#include "link/Run.h"
#include "shell/core/Main.h"

namespace bm {

// Turns a run's events into what the window shows, at the moments the run reaches them.
class Main::WindowRun : public RunObserver {
 public:
  explicit WindowRun(Main& main) : main_(main) {}

  void OnPhase(Phase phase) override {
    if (phase == Phase::Flash) main_.display.SetCaption(Caption::status0, "programming Flash");
    if (phase == Phase::Eeprom) main_.display.SetCaption(Caption::status0, "programming EEprom");
  }
  void OnProgress(int percent) override { main_.display.SetProgress(percent); }
  // Mode 2 and its display, then the numbered box, unless the user quit meanwhile.
  void OnFailure(Failure failure, bool) override {
    main_.g.Modus = Mode::Connected;
    main_.UpdateButtons();
    if (main_.QuitRequested()) return;
    main_.shown_.MessageBox(std::to_string(Number(failure)) + " Communication error");
  }

 private:
  Main& main_;
};

namespace {

// Held by a download or erase run: if the run is unwound by an error, the window goes back to
// mode 2 so it is not left showing "programming".
class RunScope {
 public:
  explicit RunScope(Main& main) : main_(main), uncaught_(std::uncaught_exceptions()) {}
  ~RunScope() {
    if (std::uncaught_exceptions() > uncaught_) {
      main_.g.Modus = Mode::Connected;
      main_.UpdateButtons();
    }
  }
  RunScope(const RunScope&) = delete;
  RunScope& operator=(const RunScope&) = delete;

 private:
  Main& main_;
  int uncaught_;
};

}  // namespace

bool Main::ReadyToRun() {
  display.SetProgress(0);
  CheckComPort();
  if (!g.COMok) {
    lastRun_.start = RunStart::NoAnswer;
    return false;
  }
  if (auto problem = PageGeometryProblem(g.BlockSize, g.FlashEnd)) {
    shown_.MessageBox(*problem);  // not identified (or refused): nothing to program with
    lastRun_.start = RunStart::NotIdentified;
    return false;
  }
  return true;
}

void Main::RunOnTarget(const std::function<RunResult(RunObserver&)>& run) {
  if (Busy()) return;
  BusyScope busy(*this);
  lastRun_ = {};
  if (!ReadyToRun()) return;

  RunScope unwinding(*this);
  g.Modus = Mode::Programming;
  UpdateButtons();
  bootloader.Interrupt(Interruption::None);
  WindowRun observer(*this);
  lastRun_.start = RunStart::Started;
  lastRun_.result = run(observer);
  if (lastRun_.result.end == RunEnd::Done) {
    g.Modus = Mode::Connected;
    UpdateButtons();
  }
}

void Main::DownLdBtn_Action() {
  RunOnTarget([this](RunObserver& observer) {
    RunLimits limits{
        g, g.OrgEEpEnd, [this](Phase phase) {
          // Each check box is read when its phase is reached.
          return display.CheckValue(phase == Phase::Eeprom ? Check::ProgEEpChk : Check::ProgFlashChk);
        }};
    return Download(bootloader, g, limits, observer);
  });
}

void Main::EraseBtn_Action() {
  RunOnTarget([this](RunObserver& observer) {
    return Erase(bootloader, g, RunLimits{g, g.OrgEEpEnd, {}}, observer);
  });
}

void Main::StopBtn_Action() {
  display.SetProgress(0);
  if (Busy()) bootloader.Interrupt(Interruption::Stop);
  if (g.COMok) bootloader.Leave();
  if (Number(g.Modus) > 0) g.Modus = Mode::FileLoaded;
  g.COMok = false;
  UpdateButtons();
}

}  // namespace bm
