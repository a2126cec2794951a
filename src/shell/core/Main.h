// Main: the main window's logic without a toolkit.
//
// It is the composition: it owns the shared state, the port object and the bootloader link, and
// holds every documented handler and operation of the main window (MainLoad.cpp: the loading
// step; MainLink.cpp: the baud pop-up, the port search and identification; MainRun.cpp:
// download, erase and Stop). The readers (images/) and the runs (link/) return what happened;
// Main turns that into the window's captions, lamps, modes and message boxes, and keeps the
// outcome for whoever drives it (LastLoad, LastSearch, LastRun). The Qt window, the command-line
// tool and the tests all drive this one object; none of them repeats a step. Its state is its
// own: fronts call operations, read results and register observers. It talks to the
// window only through StatusDisplay, to the user through Dialogs, to the port only through
// ComPort, and reaches the event loop only through EventLoop.
//
// Handlers forwarded from a view run through Handle(): errors never unwind into the toolkit, and
// the busy guard keeps a second run, search or load from starting inside a first one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "images/dParamList.h"
#include "link/Bootloader.h"
#include "link/ComPort.h"
#include "platform/Dialogs.h"
#include "platform/EventLoop.h"
#include "platform/SerialPort.h"
#include "protocol/wire.h"
#include "shell/core/FileStamp.h"
#include "shell/core/Globals.h"
#include "shell/core/Outcomes.h"
#include "shell/core/StatusDisplay.h"

namespace bm {

namespace test {
struct Inside;  // tests set the state up directly, where a user would have loaded a file
}

class Main {
 public:
  Main(StatusDisplay& display, Dialogs& dialogs, EventLoop& loop, SerialService& ports);
  Main(const Main&) = delete;
  Main& operator=(const Main&) = delete;

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

  // --- Operations -----------------------------------------------------------------------------
  // Download and Erase as a front asks for them: what to write is the request, not the window's
  // check boxes. An erase without a flash image says so and touches no port.
  void Download(const RunRequest& request);
  void Erase(const RunRequest& request);
  void UpdateButtons();
  LoadResult LoadFiles();
  void CheckComPort();
  bool GetDevice();
  void release();
  void UpdateComSettings(int rate);
  // A rate the port can be set to: positive, and not rejected by the serial port service.
  bool UsableBaudRate(int baud);
  // Sets the port to `baud`, and the pop-up too when it lists the rate (the caller checked it
  // with UsableBaudRate).
  void UseBaudRate(int baud);
  // While a target is connected and nothing runs: looks whether the port's device is still
  // there. One that went away (an adapter unplugged) ends the connection as a run's unplug
  // does, without a box: mode 1, "Adapter unplugged" in status line 1. True when it did. The
  // window calls it on a timer; it costs one look at the device.
  bool WatchConnection();
  // How many times the search sends "?" to a port, spread over one second, before it counts as
  // silent (1, the default: once).
  void SetConnectAttempts(int attempts) { connectAttempts_ = std::max(attempts, 1); }
  // Ask "i" at each identification even when the file names no loader ID (a front that will
  // require a flash check must know whether the loader can do one).
  void AlwaysAskLoaderIds(bool ask) { alwaysAskLoaderIds_ = ask; }
  // Wait `ms` after opening a port before the first "?" (boards whose adapter resets them when
  // the port opens); 0, the default, sends at once. A project's WaitAfterOpen= sets it too.
  void SetWaitAfterOpen(int ms) { waitAfterOpenMs_ = std::max(ms, 0); }
  // The window of every reply wait, 50 ms by default; a slow link (Bluetooth serial, a network
  // serial server) needs more.
  void SetReplyWindow(int ms) { bootloader.SetReplyWindowMs(ms); }
  int ReplyWindow() const { return bootloader.ReplyPasses() * kPassMs; }
  int WaitAfterOpen() const { return waitAfterOpenMs_ >= 0 ? waitAfterOpenMs_ : projectWaitAfterOpenMs_; }
  // Asks the port at `index` "?" and closes it again without "X": what a search would make of it.
  PortTry Probe(int index);
  // Every byte on the wire, both ways, as it passes (empty: none).
  void SetTrace(TraceSink sink);
  // A message box over the window (a menu item's answer).
  void ShowMessage(const std::string& text);

  // --- What the engine holds, for reading ----------------------------------------------------
  const Globals& State() const { return g; }
  const dParamList::ParamSet& Params() const { return params; }  // the last pack's parameter block
  int BaudRate() const { return ComPort.BaudRate(); }

  // --- Outcomes of the last operation of each kind --------------------------------------------
  const LoadResult& LastLoad() const { return lastLoad_; }
  SearchOutcome LastSearch() const { return lastSearch_; }
  // What the last identification found, also when it refused the chip (its signature and loader
  // IDs as far as they arrived).
  const Identification& LastIdentification() const { return lastIdentification_; }
  const RunReport& LastRun() const { return lastRun_; }
  // The window's mode as its documented number (0 to 3).
  int32_t ModeNumber() const { return Number(g.Modus); }

  // --- Listening ------------------------------------------------------------------------------
  enum class RunKind { Download, Erase };
  // What a front hears of the session besides what the window shows: each port the search
  // tries, and each download or erase: its start when it goes to the wire, its phases, progress
  // and numbered failures (with mayGoOn as the run reported it), and its end once the window
  // shows the end's mode. The window's own view is one of these; the command-line tool
  // registers its own.
  class Observer : public RunObserver {
   public:
    virtual void OnPortTried(const PortTry&) {}
    virtual void OnRunStarted(RunKind) {}
    virtual void OnRunEnded(RunKind, const RunReport&) {}
  };
  // Keeps an observer registered for as long as it lives (it may outlive Main).
  class Registration {
   public:
    Registration() = default;
    Registration(Registration&& other) noexcept = default;
    Registration& operator=(Registration&& other) noexcept;
    ~Registration();

   private:
    friend class Main;
    using List = std::vector<Observer*>;
    Registration(const std::shared_ptr<List>& list, Observer& observer) : list_(list), observer_(&observer) {}
    std::weak_ptr<List> list_;
    Observer* observer_ = nullptr;
  };
  [[nodiscard]] Registration Listen(Observer& observer);

  // --- Sound behaviour around the handlers ------------------------------------------------------
  // True while a load, search, download or erase runs; Load, Comport, Download and Erase return
  // at once meanwhile, and the baud pop-up is disabled.
  bool Busy() const { return busy_ > 0; }
  // Quitting during a run: the run ends at its next wait, the port is closed without "X".
  void RequestQuit();
  bool QuitRequested() const { return quitRequested_; }

  // Runs `handler` so that no error escapes: an error is handed to the unhandled-error hook.
  void Handle(const std::function<void()>& handler);
  // The unhandled-error hook. By default it shows the error's message and trail in a box and
  // the program keeps running; the command-line tool and the tests may replace it.
  void SetUnhandledException(std::function<void(std::exception_ptr)> hook);

  // Holds the busy guard for its lifetime (nested holders are fine).
  class BusyScope {
   public:
    explicit BusyScope(Main& main);
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

   private:
    Main& main_;
  };

 private:
  friend struct test::Inside;

  // The dialogs, with the file dialog's answer given in advance for LoadFile.
  class AnsweringDialogs : public Dialogs {
   public:
    explicit AnsweringDialogs(Dialogs& shown) : shown_(shown) {}
    void MessageBox(const std::string& text) override { shown_.MessageBox(text); }
    void MessageBoxWithInfo(const std::string& text, const std::string& information) override {
      shown_.MessageBoxWithInfo(text, information);
    }
    std::optional<std::string> OpenFile(const std::vector<FileKind>& kinds) override {
      if (answer) return std::exchange(answer, std::nullopt);
      return shown_.OpenFile(kinds);
    }
    void SetStartFolder(const std::string& folder) override { shown_.SetStartFolder(folder); }
    std::optional<std::string> answer;  // the next OpenFile's answer without showing the dialog

   private:
    Dialogs& shown_;
  };
  class WindowRun;  // MainRun.cpp: turns a run's events into the window's captions and boxes

  void ShowUnhandled(std::exception_ptr error);
  // What LoadFiles read from the chosen file besides the images.
  struct FileRead {
    std::string deviceIdText;  // the device ID caption
    std::string cpuText;       // the CPU name caption
    int baud = WIRE_DEFAULT_BAUD;
    std::string baudText;    // the BaudRate as the project wrote it (empty: none written)
    bool baudNamed = false;  // the file names its rate (a project's BaudRate key)
    bool damaged = false;    // a format error, or a pack whose read failed: nothing of it may be programmed
  };
  // The branch of LoadFiles for the file's kind.
  FileRead ReadChosenFile(const std::string& name);
  // The project branch: keys, then the .hex and .eep images beside the project.
  void LoadProject(FileRead& read);
  // Before a run: when a file the load read changed on disk since, the load is read again with
  // the same readers, keeping the connection, the check boxes and the port's rate. True when the
  // run may go on (nothing changed, or the new files expect the same device, loader and
  // BaudRate: status line 0 says so); false after a box that says why nothing is written.
  bool ReloadIfChanged();
  // The captions, check boxes and mode of a load that ended `loaded` or not.
  void ShowLoad(bool loaded, const std::string& name, const FileRead& read);
  // Shows what the load found since the last call: a box each, in order (an encrypted file's
  // line goes to status line 0), and keeps it in the load's result.
  void ShowFound();
  // The start of a download or erase: clears the progress, runs the liveness check on the port
  // and identifies the target again. False (after saying why) when nothing may be sent.
  bool ReadyToRun(bool identifyAgain);
  // Runs `run` as the window runs a download or erase: the checks, then `fits` (false: the run
  // is refused, nothing sent, after its message), mode 3, the run, and the mode its end calls for.
  // Shows a failed flash check after a download (a box; the target stays connected).
  void ShowVerification(const RunResult& result);
  void RunOnTarget(RunKind kind, const RunRequest& request, const std::function<RunStart()>& fits,
                   const std::function<RunResult(RunObserver&)>& run);
  // A download of `request`; the window's also reads each check box again as its phase begins.
  void RunDownload(const RunRequest& request, bool followCheckBoxes);
  // The selected port as tried; a skip carries the last liveness check's reason.
  PortTry TriedPort(PortTry::Status status, std::optional<OpenFailure> failure = std::nullopt);
  // The "Target not found" box's information: each port passed by and why, and the rate.
  std::string WhyNotFound(const std::vector<PortTry>& passedBy) const;
  // Tells the observers about the selected port.
  void TellPortTried(PortTry::Status status, std::optional<OpenFailure> failure = std::nullopt);
  // Mode 2 while the port is open, else mode 1 with the link flag down; then UpdateButtons.
  void ShowConnection();
  // The end of a search or run whose identification failed or was refused: the loader is
  // released, mode 0, "COMport none" / "ERROR".
  void EndUnidentified();

  // Tells every registered observer, in the order they registered.
  template <class Event>
  void Tell(const Event& event) {
    for (Observer* o : std::vector<Observer*>(*observers_)) event(*o);
  }

  StatusDisplay& display;
  Dialogs& dialogs;
  EventLoop& loop;
  Globals g;
  bool ParaEnable = false;
  dParamList::ParamSet params;  // the last pack file's parameter block
  bm::ComPort ComPort;
  Bootloader bootloader{ComPort, loop};  // the wire exchanges over ComPort
  std::function<void(std::exception_ptr)> UnhandledException;
  std::shared_ptr<std::vector<Observer*>> observers_ = std::make_shared<std::vector<Observer*>>();

  AnsweringDialogs shown_{dialogs};
  Diagnostics found_;                             // what the current load found
  std::filesystem::path chosen_;                  // the file the user chose last
  std::vector<std::filesystem::path> filesRead_;  // every file that load read (or looked for)
  std::vector<FileStamp> stamps_;                 // ... as each was when it was read
  int loadBaud_ = WIRE_DEFAULT_BAUD;              // the BaudRate that load asked for
  size_t shownFound_ = 0;
  int busy_ = 0;
  bool quitRequested_ = false;
  LoadResult lastLoad_;
  SearchOutcome lastSearch_ = SearchOutcome::NotRun;
  Identification lastIdentification_;
  int connectAttempts_ = 1;
  bool alwaysAskLoaderIds_ = false;
  int waitAfterOpenMs_ = -1;        // set by a front; -1: the project's
  int projectWaitAfterOpenMs_ = 0;  // the loaded project's WaitAfterOpen
  Liveness lastLiveness_ = Liveness::Silent;
  RunReport lastRun_;
};

}  // namespace bm
