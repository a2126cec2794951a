// Engine: the documented operations without a face.
//
// It owns the loaded images and what they expect, the port object and the bootloader link, and
// holds the operations every front runs: load a file, search the ports and identify the target,
// download, erase, verify (with a download), stop and release. Each operation takes an explicit
// request and returns a result that carries every fact a front shows (Outcomes.h); while it
// works it tells its observers what happens — each port tried, each phase, progress and
// numbered failure, each finding and byte of the trace, through one interface. It decides no
// caption, box, mode or lamp: the presenter (Presenter.h) turns its events and results into the
// window's documented face, the command-line tool into lines, JSON and exit codes.
//
// It reaches the event loop only through EventLoop (reply waits and long loops yield there) and
// the port only through ComPort.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "images/dParamList.h"
#include "link/Bootloader.h"
#include "link/ComPort.h"
#include "platform/EventLoop.h"
#include "platform/SerialPort.h"
#include "protocol/wire.h"
#include "shell/core/FileStamp.h"
#include "shell/core/Globals.h"
#include "shell/core/Outcomes.h"

namespace bm {

namespace test {
struct Inside;  // tests set the state up directly, where a user would have loaded a file
}

// One line of the session's log, as the engine says it while it works.
struct LogLine {
  enum class Kind {
    Finding,  // what a load found: its kind, code and the text the window shows in its box
    Trace,    // bytes on the wire
  };
  Kind kind = Kind::Finding;
  Diagnostic finding;     // Finding
  bool toTarget = false;  // Trace: the direction
  std::string bytes;      // Trace: the bytes as they passed
};

// Where the port's rate comes from, strongest first: a front's option, the project's BaudRate,
// the environment's default, the built-in rate.
struct BaudSources {
  std::optional<int> option;
  std::optional<int> environment;
};
// The rate the sources and a loaded project's BaudRate (none: the file names none) give, and
// whether it came from the front (option or environment) rather than the file or the built-in.
struct BaudChoice {
  int rate = WIRE_DEFAULT_BAUD;
  bool fromFront = false;
};
BaudChoice ChooseBaudRate(const BaudSources& sources, std::optional<int> projectRate);

class Engine {
 public:
  Engine(EventLoop& loop, SerialService& ports);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // --- Listening ------------------------------------------------------------------------------
  class Observer : public RunObserver {
   public:
    virtual void OnPortTried(const PortTry&) {}
    virtual void OnRunStarted(RunKind) {}
    // A run that started has ended: its report, as the operation returns it.
    virtual void OnRunEnded(RunKind, const RunReport&) {}
    // `changed`, a file the load read, changed on disk and the load was read again before a run;
    // `accepted`: the run goes on with it (otherwise the run's report says why nothing was
    // written).
    virtual void OnReloaded(const LoadResult&, const std::string& /*changed*/, bool /*accepted*/) {}
    virtual void OnLog(const LogLine&) {}
  };
  // Keeps an observer registered for as long as it lives (it may outlive the engine).
  class Registration {
   public:
    Registration() = default;
    Registration(Registration&& other) noexcept = default;
    Registration& operator=(Registration&& other) noexcept;
    ~Registration();

   private:
    friend class Engine;
    using List = std::vector<Observer*>;
    Registration(const std::shared_ptr<List>& list, Observer& observer) : list_(list), observer_(&observer) {}
    std::weak_ptr<List> list_;
    Observer* observer_ = nullptr;
  };
  [[nodiscard]] Registration Listen(Observer& observer);
  // Every byte on the wire reaches the observers as a Trace line (off by default: it costs).
  void TraceWire(bool on);

  // --- Operations -----------------------------------------------------------------------------
  // Reads `file` into the buffers (the loader is released first, the buffers filled with 0xFF)
  // and applies the rate the sources give. An error inside a reader leaves it with its trail;
  // the buffers are then half-loaded and count as not loaded.
  // `name` is the file's name as the program holds names (base/FileOpen.h).
  LoadResult Load(const std::string& name);
  // The file dialog was cancelled: there is no current file; the load in place stays.
  void NoFileChosen() { g.f.reset(); }
  // Tries every port, last first, until a loader answers "KW", then identifies it.
  SearchResult Search();
  // Asks the port at `index` "?" and closes it again without "X": what a search would make of it.
  PortTry Probe(int index);
  // Nothing to write for this request, decided before any port is touched: why, or nothing.
  std::optional<NothingReason> NothingToWrite(RunKind kind, const RunRequest& request) const;
  RunReport Download(const RunRequest& request);
  RunReport Erase(const RunRequest& request);
  // Stop: a running run ends at its next wait; a connected loader is told to leave.
  void Stop();
  // Tells a connected loader to leave ("X") and closes the port.
  void release();
  // Quitting: a running operation ends at its next wait, the port is closed without "X".
  void Quit();
  bool QuitRequested() const { return quitRequested_; }
  // While connected and idle: whether the port's device went away (an adapter unplugged); the
  // connection then ends. Costs one look at the device.
  bool ConnectionLost();

  // --- Settings -------------------------------------------------------------------------------
  void SetBaudSources(const BaudSources& sources) { baudSources_ = sources; }
  // A rate the port can be set to: positive, and not rejected by the serial port service.
  bool UsableBaudRate(int baud);
  void SetBaudRate(int baud) { ComPort.SetBaudRate(baud); }
  int BaudRate() const { return ComPort.BaudRate(); }
  // How many times the search sends "?" to a port, spread over one second, before it counts as
  // silent (1, the default: once).
  void SetConnectAttempts(int attempts) { connectAttempts_ = std::max(attempts, 1); }
  // Ask "i" at each identification even when the file names no loader ID (a front that will
  // require a flash check must know whether the loader can do one).
  void AlwaysAskLoaderIds(bool ask) { alwaysAskLoaderIds_ = ask; }
  // Wait `ms` after opening a port before the first "?" (boards whose adapter resets them when
  // the port opens); 0, the default, sends at once. A project's WaitAfterOpen= sets it too.
  void SetWaitAfterOpen(int ms) { waitAfterOpenMs_ = std::max(ms, 0); }
  int WaitAfterOpen() const { return waitAfterOpenMs_ >= 0 ? waitAfterOpenMs_ : projectWaitAfterOpenMs_; }
  // The window of every reply wait, 50 ms by default; a slow link (Bluetooth serial, a network
  // serial server) needs more.
  void SetReplyWindow(int ms) { bootloader.SetReplyWindowMs(ms); }
  int ReplyWindow() const { return bootloader.ReplyPasses() * kPassMs; }

  // --- What it holds, for reading --------------------------------------------------------------
  const Globals& State() const { return g; }
  const LoadResult& Loaded() const { return loaded_; }           // what the last load found
  const ImageBuffers& Images() const { return g; }               // the loaded images, 0xFF past their ends
  const dParamList::ParamSet& Params() const { return params; }  // the last pack's parameter block
  bool Connected() const { return g.COMok; }                     // a loader answered on the open port
  bool PortOpen() const { return ComPort.IsOpen(); }
  // Counts the serial ports again (the window's Open).
  void CountPorts() { g.serial_count = ComPort.Service().Count(); }

 private:
  friend struct test::Inside;
  class RunTracker;  // EngineRun.cpp: follows a run's phases for its report and the observers
  // Holds the running flag for a search or a run, however it ends: Stop interrupts it.
  class Running {
   public:
    explicit Running(bool& flag) : flag_(flag) { flag_ = true; }
    ~Running() { flag_ = false; }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

   private:
    bool& flag_;
  };

  // Tells every registered observer, in the order they registered.
  template <class Event>
  void Tell(const Event& event) {
    for (Observer* o : std::vector<Observer*>(*observers_)) event(*o);
  }
  void TellFindings(const Diagnostics& found, size_t& told);

  // The loading step on the buffers as they are: the branch for the file's kind, the stamps,
  // the rate. `found` receives the findings (told to the observers as they come).
  LoadResult LoadFiles(std::filesystem::path file, Diagnostics& found, size_t& told);
  // The project branch: keys, then the .hex and .eep images beside the project. True when an
  // image is damaged (nothing of it may be programmed).
  bool LoadProject(const std::string& path, LoadResult& load, Diagnostics& found, size_t& told,
                   std::vector<std::filesystem::path>& looked, std::vector<FileSeen>& seen);
  // Empties the buffers and what the last load expected, before a load reads into them.
  void ResetImages();
  // Before a run: reads a changed file again; false (with `report` saying why) when the run must
  // not go on with it.
  bool ReloadIfChanged(RunReport& report);
  // The port as tried; a skip carries the last liveness check's reason.
  PortTry TriedPort(PortTry::Status status, std::optional<OpenFailure> failure = std::nullopt);
  void TellPortTried(PortTry::Status status, std::optional<OpenFailure> failure = std::nullopt);
  void CheckComPort();
  // Identification; the loader is released when it fails.
  Identification GetDevice();
  // The checks before a run: liveness, identification, page geometry. False with `report` saying why.
  bool ReadyToRun(bool identifyAgain, RunReport& report);
  RunReport RunOnTarget(RunKind kind, const RunRequest& request);
  // What the run's phases went to write, with their hashes, and why it was or was not verified.
  void DescribeWritten(RunKind kind, const RunRequest& request, bool verifyAsked, RunReport& report) const;

  EventLoop& loop;
  Globals g;
  dParamList::ParamSet params;  // the last pack file's parameter block
  bm::ComPort ComPort;
  Bootloader bootloader{ComPort, loop};  // the wire exchanges over ComPort
  std::shared_ptr<std::vector<Observer*>> observers_ = std::make_shared<std::vector<Observer*>>();

  std::filesystem::path chosen_;    // the file the last load read
  std::vector<FileStamp> stamps_;   // every file that load read (or looked for), as it was then
  LoadResult loaded_;               // what that load found
  std::optional<int> projectRate_;  // the BaudRate the loaded project names
  std::string projectRateText_;     // ... as the project wrote it
  BaudSources baudSources_;
  bool running_ = false;  // a search or run goes
  bool quitRequested_ = false;
  int connectAttempts_ = 1;
  bool alwaysAskLoaderIds_ = false;
  int waitAfterOpenMs_ = -1;        // set by a front; -1: the project's
  int projectWaitAfterOpenMs_ = 0;  // the loaded project's WaitAfterOpen
  Liveness lastLiveness_ = Liveness::Silent;
};

}  // namespace bm
