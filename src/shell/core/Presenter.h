// Presenter: the main window's documented face, as state, over the engine.
//
// It holds the window's handlers (the names of its controls' events) and turns each into an
// engine operation with an explicit request; it turns the engine's events and results into the
// captions, the mode and its lamps and buttons (UpdateButtons, from the mode table), the status
// lines, the progress bar and the message boxes, at the documented moments. It shows them
// through the view interface (StatusDisplay), which the Qt window implements with widgets only,
// and asks the user through Dialogs. It touches no port and reads no file itself.
//
// Handlers forwarded from a view run through Handle(): errors never unwind into the toolkit, and
// the busy guard keeps a second run, search or load from starting inside a first one.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "shell/core/Engine.h"
#include "shell/core/Mode.h"
#include "shell/core/Outcomes.h"
#include "shell/core/StatusDisplay.h"

namespace bm {

struct LoadFace;

class Presenter : private Engine::Observer {
 public:
  Presenter(Engine& engine, StatusDisplay& view, Dialogs& dialogs);
  Presenter(const Presenter&) = delete;
  Presenter& operator=(const Presenter&) = delete;

  // --- Handlers of the main window's controls (forwarded by the views) ----------------------
  void BaudSelect_Change(int index);  // applies the entry's rate to the port
  void FOpenBtn_Action();
  void ComportBtn_Action();
  void DownLdBtn_Action();  // Download with the check boxes as the request
  void EraseBtn_Action();
  void StopBtn_Action();
  void Timer1_Action();
  void Open();                                         // window opened
  bool EnableMenuItems() const { return ParaEnable; }  // state of the "Parameter" item
  bool _load_Action();                                 // presses the Load button; returns false
  // Load with `path` as the file dialog's answer (a file dropped on the window or named on the
  // command line): the dialog is not shown, everything else is as Load does it.
  void LoadFile(const std::string& path);
  // While a target is connected and nothing runs: looks whether the port's device is still
  // there. One that went away (an adapter unplugged) ends the connection as a run's unplug
  // does, without a box: mode 1, "Adapter unplugged" in status line 1. True when it did. The
  // window calls it on a timer; it costs one look at the device.
  bool WatchConnection();
  // A message box over the window (a menu item's answer).
  void ShowMessage(const std::string& text);
  // The whole display derived from the mode, by the mode table.
  void UpdateButtons();
  // The baud pop-up shows the port's rate.
  void UpdateComSettings() { view.ShowBaudRate(engine_.BaudRate()); }

  // --- The face, and the outcome of the last operation of each kind -------------------------
  int32_t ModeNumber() const { return Number(Modus); }  // the documented number (0 to 3)
  const LoadResult& LastLoad() const { return lastLoad_; }
  SearchOutcome LastSearch() const { return lastSearch_.outcome; }
  const RunReport& LastRun() const { return lastRun_; }
  Engine& engine() { return engine_; }
  const Engine& engine() const { return engine_; }
  // The clock run times are measured with, in milliseconds (a steady clock by default; tests
  // inject theirs).
  void SetClock(std::function<double()> nowMs) { nowMs_ = std::move(nowMs); }

  // --- Sound behaviour around the handlers ------------------------------------------------------
  // True while a load, search, download or erase runs; Load, Comport, Download and Erase return
  // at once meanwhile, and the baud pop-up is disabled.
  bool Busy() const { return busy_ > 0; }
  // Quitting during a run: the run ends at its next wait, the port is closed without "X".
  void RequestQuit() { engine_.Quit(); }
  bool QuitRequested() const { return engine_.QuitRequested(); }
  // Runs `handler` so that no error escapes: an error is handed to the unhandled-error hook.
  void Handle(const std::function<void()>& handler);
  // The unhandled-error hook. By default it shows the error's message and trail in a box and
  // the program keeps running; the tests may replace it.
  void SetUnhandledException(std::function<void(std::exception_ptr)> hook) {
    UnhandledException = std::move(hook);
  }

  // Holds the busy guard for its lifetime (nested holders are fine).
  class BusyScope {
   public:
    explicit BusyScope(Presenter& presenter);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    Presenter& presenter_;
  };

 private:
  friend struct test::Inside;

  // What the engine tells while it works.
  void OnLog(const LogLine& line) override;
  void OnPortTried(const PortTry& tried) override;
  void OnReloaded(const LoadResult& load, const std::string& changed, bool accepted) override;
  void OnRunStarted(RunKind kind) override;
  void OnPhase(Phase phase) override;
  void OnProgress(int percent, int64_t done, int64_t total) override;
  void OnFailure(Failure failure, bool mayGoOn) override;

  // The captions, check boxes and mode of a load that ended loaded or not.
  void ShowLoad(const LoadResult& load);
  void ShowFace(const LoadFace& face);
  // A download or erase as the window runs it, and how its end shows.
  void Run(RunKind kind, const RunRequest& request);
  void ShowRunEnd(RunKind kind, const RunReport& report);
  void ShowFinished(RunKind kind, const RunReport& report);
  // The status-line text of a download that finished without a failure: its time, and what the
  // check after it found.
  std::string FinishedDownload(const RunReport& report, const std::string& seconds) const;
  void ShowVerification(const RunResult& result);
  // The identification's captions (as far as its bytes arrived), and its end when it failed.
  void ShowIdentification(const Identification& found);
  // The "Target not found" box: each port passed by and why, and the rate.
  void ShowNotFound(const std::vector<PortTry>& passedBy);
  // Mode 2 while the port is open, else mode 1; then UpdateButtons.
  void ShowConnection();
  // The end of a search or run whose identification failed or was refused: mode 0,
  // "COMport none" / "ERROR".
  void EndUnidentified();
  void ShowUnhandled(std::exception_ptr error);

  Engine& engine_;
  StatusDisplay& view;
  Dialogs& dialogs;
  Engine::Registration listening_;
  std::function<void(std::exception_ptr)> UnhandledException;
  std::function<double()> nowMs_;

  Mode Modus = Mode::None;
  bool ParaEnable = false;
  int busy_ = 0;
  std::optional<std::string> answer_;  // LoadFile's answer to the file dialog
  std::string startFolder_;            // where the file dialog opens: beside the file loaded last
  LoadResult lastLoad_;
  SearchResult lastSearch_;
  RunReport lastRun_;
  // The run as it goes, for its status lines and the progress bar's tooltip.
  double runStartMs_ = 0;
  double phaseStartMs_ = 0;
  Phase phase_ = Phase::Flash;
  int percent_ = 0;   // of the phase the run is in
  int64_t done_ = 0;  // bytes of that phase done: the address where it stands
};

}  // namespace bm
