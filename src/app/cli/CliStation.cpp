// brindlemark-cli station: a production bench. FILE is loaded once (and again when it changes on
// disk); then each board is flashed the moment its port appears, by a child of this very program
// (`download --json` for that port, as gang does), and flashed again only after its port went
// away and came back. Ports appear as device entries in a watched folder (--watch DIR, such as
// /dev/serial/by-id) or as the system's serial ports; the folder is watched through the system's
// file notifications, never polled.
//
// Each child gets a private copy of the files, made when they were loaded, so a rebuild on disk
// in the middle of a board never mixes two images. The first Ctrl-C takes no new boards and lets
// the running ones finish; a second stops them (they count as failed). The children run in
// process groups of their own (BoardSupervisor), so a Ctrl-C at the terminal reaches only the
// station.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/PortOptions.h"
#include "app/cli/BoardSupervisor.h"
#include "app/cli/CliRecord.h"
#include "app/cli/CommandLoop.h"
#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/FileCheck.h"
#include "app/cli/Interrupts.h"
#include "app/cli/PortNames.h"
#include "app/cli/System.h"
#include "base/FileOpen.h"
#include "images/TextFile.h"

namespace bm::cli {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

// The files a load of `file` reads: a project's .hex and .eep beside it, or the file alone.
std::vector<fs::path> FilesOf(const std::string& file) {
  std::vector<fs::path> files{PathFromName(file)};
  if (TextFile::EndsWithNoCase(file, ".ppro"))
    for (const char* ext : {".hex", ".eep"}) files.push_back(PathFromName(file).replace_extension(ext));
  return files;
}

// The file's name without its folder, for a line to the operator.
std::string FileName(const std::string& file) { return NameFromPath(PathFromName(file).filename()); }

struct Board {
  std::string port;
  bool named = false;    // given with --port: a port without a loader is a failure
  bool present = false;  // its device entry is there now
  bool flashed = false;  // flashed during this appearance: not again until it comes back
  bool running = false;
  std::string status = "waiting";
  std::optional<CommandLoop::TimerId> settle;  // from its appearance to its start
};

class StationRun {
 public:
  StationRun(const CommandLine& line, EventLog& log)
      : line_(line),
        log_(log),
        supervisor_(
            loop_, ThisProgramPath(),
            [this](const std::string& port, const std::string& event, const json& fields) {
              Take(*boards_.at(port), event, fields);
            },
            [this](const std::string& port, const BoardResult& result) {
              Ended(*boards_.at(port), result);
            }) {}

  int Run() {
    if (const std::optional<std::string> why = WhyNotLoadable(line_.file)) {
      Say("error", "station: cannot load '" + line_.file + "': " + *why);
      return Finish(Outcome::LoadFailed);
    }
    if (const std::optional<std::string> refusal = LogDirRefusal("station", line_.logDir)) {
      Say("error", *refusal);
      return Finish(Outcome::Usage);
    }
    if (line_.watchDir && !PortsAppearInFolders()) {
      Say("error",
          "station: --watch is not available here: serial ports are no entries of a folder on this system; "
          "station takes its COM ports as they come and go (or only those named with --port)");
      return Finish(Outcome::Usage);
    }
    // --record: checked once here; each board's child records its own row.
    if (const std::optional<RecordRefusal> refusal = PrepareRecord(line_)) {
      Say("error", "station: " + refusal->text);
      return Finish(refusal->outcome);
    }
    if (line_.watchDir) {
      // Resolved once: entries of a relative folder are named by their full path.
      std::error_code ec;
      watchDir_ = NameFromPath(fs::absolute(PathFromName(*line_.watchDir), ec).lexically_normal());
      if (watchDir_.size() > 1 && watchDir_.back() == '/') watchDir_.pop_back();
      if (fs::exists(PathFromName(watchDir_), ec) && !fs::is_directory(PathFromName(watchDir_), ec)) {
        Say("error", "station: --watch '" + *line_.watchDir + "' is not a folder");
        return Finish(Outcome::Usage);
      }
      if (NearestExistingFolder(watchDir_).empty()) {
        Say("error", "station: --watch '" + *line_.watchDir + "': no folder on its path exists to watch");
        return Finish(Outcome::Usage);
      }
    }
    for (const std::string& d : line_.ports.devices) named_.push_back(ResolvedPortName(d));
    Interrupts interrupts(loop_, [this] { Interrupted(); });
    watching_ = true;
    TakeFile();
    for (const fs::path& f : FilesOf(line_.file)) {
      watch_.Add(NameFromPath(f));
      watch_.Add(FolderOf(f));
    }
    WatchPorts();
    Rescan();
    if (!stopping_ || Running() > 0) loop_.Run();
    return Finish(failed_ > 0 ? Outcome::BoardsFailed : logsLost_ ? Outcome::OutputFailed : Outcome::Done);
  }

 private:
  // --- The file ---------------------------------------------------------------------------
  // Copies the files into a fresh private folder and checks that the copy loads; a copy that
  // does not pauses the station until the files load again.
  void TakeFile() {
    // A change seen while a copy is checked (the check turns the loop) is taken after it.
    if (takingFile_) {
      takeAgain_ = true;
      return;
    }
    takingFile_ = true;
    do {
      takeAgain_ = false;
      TakeFileOnce();
    } while (takeAgain_);
    takingFile_ = false;
  }

  void TakeFileOnce() {
    const std::optional<std::string> made = MakePrivateFolder();
    if (!made) return Pause("cannot make a private copy");
    const fs::path dir = PathFromName(*made);
    std::error_code ec;
    for (const fs::path& f : FilesOf(line_.file))
      if (fs::exists(f, ec)) fs::copy_file(f, dir / f.filename(), ec);
    const fs::path copy = dir / PathFromName(line_.file).filename();
    // The documented load, by this very program, as each board's child will run it.
    // In a process group of its own, as every child: a Ctrl-C now is the station's alone.
    std::optional<int> status;
    bool ended = false;
    std::unique_ptr<ChildProcess> load =
        loop_.Start(ThisProgramPath(), {"load", NameFromPath(copy)},
                    {nullptr, nullptr, [&](std::optional<int> exitStatus, const std::string&) {
                       status = exitStatus;
                       ended = true;
                     }});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!ended && std::chrono::steady_clock::now() < deadline) loop_.processEvents(20);
    load.reset();  // one still running after that long is killed
    if (status != kExitDone) {
      fs::remove_all(dir, ec);
      return Pause("it no longer loads");
    }
    const bool again = !copy_.empty();
    copies_.push_back(*made);
    copy_ = NameFromPath(copy);
    paused_ = false;
    if (again) Say("info", "station: " + FileName(line_.file) + " changed on disk: loaded again");
    StartWaiting();
  }

  void Pause(const std::string& why) {
    if (!paused_)
      Say("error", "station: " + FileName(line_.file) + ": " + why + "; paused until it loads again");
    paused_ = true;
  }

  static std::string FolderOf(const fs::path& file) {
    return file.has_parent_path() ? NameFromPath(file.parent_path()) : std::string(".");
  }

  void Changed(const std::string& path) {
    // A rebuild may replace the file: watch it again under its name.
    for (const fs::path& f : FilesOf(line_.file))
      if (!watch_.Watching(NameFromPath(f)) && fs::exists(f)) watch_.Add(NameFromPath(f));
    const std::vector<fs::path> files = FilesOf(line_.file);
    const bool ours = std::any_of(files.begin(), files.end(),
                                  [&path](const fs::path& f) { return path == NameFromPath(f); });
    if (ours || Stamp() != stamp_) {
      stamp_ = Stamp();
      TakeFile();
    }
    Rescan();
  }

  // Size and time of the files, to tell a change of theirs from other changes in their folder.
  std::string Stamp() const {
    std::string stamp;
    for (const fs::path& f : FilesOf(line_.file)) {
      std::error_code ec;
      const auto size = fs::file_size(f, ec);
      const auto time = fs::last_write_time(f, ec);
      stamp += std::to_string(ec ? 0 : size) + ":" + std::to_string(time.time_since_epoch().count()) + ";";
    }
    return stamp;
  }

  // --- The ports ----------------------------------------------------------------------------
  void WatchPorts() {
    stamp_ = Stamp();
    if (!watchDir_.empty()) {
      WatchTowards();
    } else {
      arrivals_ = std::make_unique<PortArrivals>(loop_, [this] { Rescan(); });
      // Named devices (pseudo-terminals) come and go in their folders, which udev does not tell.
      for (const std::string& d : named_)
        if (const std::string folder = PortFolder(d); !folder.empty()) watch_.Add(folder);
    }
  }

  // The --watch folder may not exist yet (/dev/serial appears with the first adapter) or may
  // vanish with the last one: the nearest folder of its path that exists is watched, and each
  // level as it appears, down to the folder itself.
  void WatchTowards() {
    for (std::string nearest;
         !(nearest = NearestExistingFolder(watchDir_)).empty() && !watch_.Watching(nearest);)
      if (!watch_.Add(nearest)) break;
  }

  std::set<std::string> PresentPorts() const {
    std::set<std::string> present;
    std::error_code ec;
    if (!watchDir_.empty()) {
      for (const auto& entry : fs::directory_iterator(PathFromName(watchDir_), ec))
        present.insert(NameFromPath(entry.path()));
    } else if (named_.empty()) {
      const app::Ports system = app::MakePorts({});
      for (int i = 0; i < system.list->Count(); ++i) present.insert(PortDevice(system.list->PortName(i)));
    }
    for (const std::string& d : named_)
      if (PortPresent(d)) present.insert(d);
    if (!watchDir_.empty() && !named_.empty()) {
      std::set<std::string> named;
      for (const std::string& d : named_)
        if (present.count(d)) named.insert(d);
      return named;
    }
    return present;
  }

  void Rescan() {
    if (!watchDir_.empty()) WatchTowards();
    const std::set<std::string> present = PresentPorts();
    for (const std::string& port : present) {
      Board& b = BoardOf(port);
      if (b.present) continue;
      b.present = true;
      b.flashed = false;
      Emit(b, "appeared", json::object());
      b.settle = loop_.After(std::chrono::milliseconds(line_.settleMs), [this, &b] {
        b.settle.reset();
        Start(b);
      });
    }
    for (auto& [port, b] : boards_) {
      if (!b->present || present.count(port)) continue;
      b->present = false;
      if (b->settle) loop_.Cancel(*b->settle);
      b->settle.reset();
      if (!b->running) b->status = "waiting";
      Emit(*b, "gone", json::object());
    }
    Draw();
  }

  Board& BoardOf(const std::string& port) {
    auto& b = boards_[port];
    if (!b) {
      b = std::make_unique<Board>();
      b->port = port;
      b->named = std::find(named_.begin(), named_.end(), port) != named_.end();
    }
    return *b;
  }

  // "20261211-104512-042": the local time to the millisecond, for log names that sort by time.
  static std::string LocalTimeStamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::tm local = LocalTime(seconds);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%s-%03d", text, static_cast<int>(ms));
    return stamp;
  }

  // --- The boards ---------------------------------------------------------------------------
  void StartWaiting() {
    for (auto& [port, b] : boards_)
      if (b->present && !b->flashed && !b->running && !b->settle) Start(*b);
  }

  void Start(Board& b) {
    if (!b.present || b.flashed || b.running || paused_ || stopping_) return;
    if (line_.maxBoards && started_ >= *line_.maxBoards) return;
    ++started_;
    b.running = true;
    b.flashed = true;
    b.status = "flashing";
    CommandLine child = line_;
    child.file = copy_;
    // The child reads the copy; its lines name the file the user gave.
    BoardLaunch launch{b.port, ChildArguments(child, b.port), std::nullopt, std::nullopt, line_.file};
    if (line_.logDir) {
      std::string device = b.port;
      for (char& c : device)
        if (c == '/' || c == '\\' || c == ':' || c == ' ') c = '_';
      launch.logBase = *line_.logDir + "/" + LocalTimeStamp() + device;
    }
    supervisor_.Start(launch);
    Draw();
  }

  void Take(Board& b, const std::string& event, const json& fields) {
    if (event == "progress") b.status = "flashing " + std::to_string(fields.value("percent", 0)) + " %";
    if (event != "progress" || fields.value("percent", 0) % 10 == 0) Emit(b, event, fields);
  }

  void Ended(Board& b, BoardResult result) {
    b.running = false;
    char text[64];
    if (result.outcome == Outcome::Done || result.outcome == Outcome::OutputFailed) {
      ++passed_;  // the board is flashed; a log that could not be kept decides the station's outcome
      logsLost_ |= result.outcome == Outcome::OutputFailed;
      std::snprintf(text, sizeof text, "done in %.1f s", result.seconds);
      b.status = text;
    } else if (result.outcome == Outcome::NotFound && !b.named) {
      result.outcome = Outcome::Skipped;
      b.status = "no loader";  // not retried until the port comes back
    } else {
      ++failed_;
      b.status = std::string("FAILED: ") + NameOf(result.outcome);
    }
    summary_.push_back(BoardJson(b.port, result));
    Draw();
    const bool limitReached = line_.maxBoards && started_ >= *line_.maxBoards;
    if ((stopping_ || limitReached) && Running() == 0) loop_.Quit();
  }

  int Running() const { return supervisor_.Running(); }

  void Interrupted() {
    if (!stopping_) {
      stopping_ = true;
      Say("info", "station: no new boards; " + std::to_string(Running()) +
                      " running to their end (Ctrl-C again stops them)");
      if (Running() == 0) loop_.Quit();
      return;
    }
    supervisor_.StopAll();  // each child ends its run as quitting does: a failed board
  }

  // --- What the operator sees -----------------------------------------------------------------
  void Emit(const Board& b, const std::string& event, const json& rest) {
    json fields{{"port", b.port}};
    fields.update(rest);
    log_.Emit(event, fields);
    // -q: errors only (a board that failed, Say's errors) and the closing tally.
    if (line_.quiet && !(event == "result" && rest.value("outcome", "") != "done")) return;
    if (!log_.Enabled() || event == "appeared" || event == "gone" || event == "result")
      std::cerr << b.port << ": " << event << (rest.empty() ? "" : " " + rest.dump()) << '\n';
  }

  void Say(const char* kind, const std::string& text) {
    if (!(line_.quiet && std::string(kind) == "info")) std::cerr << text << '\n';
    log_.Emit("message", {{"kind", kind}, {"text", text}});
  }

  void Draw() const {
    if (!StderrIsTerminal() || line_.quiet) return;
    std::cerr << "passed " << passed_ << ", failed " << failed_ << " |";
    for (const auto& [port, b] : boards_) std::cerr << ' ' << FileName(port) << ": " << b->status << ';';
    std::cerr << "\x1b[K\r" << std::flush;
  }

  int Finish(Outcome outcome) {
    const double hours = log_.Seconds() / 3600;
    char tally[128];
    std::snprintf(tally, sizeof tally, "station: %d passed, %d failed (%.0f an hour)", passed_, failed_,
                  hours > 0 ? (passed_ + failed_) / hours : 0.0);
    // A station refused before it watched anything says only why (one line).
    if (watching_) std::cerr << "\n" << tally << '\n';
    for (const json& b : summary_)
      std::cerr << "  " << b["port"].get<std::string>() << "  " << b["outcome"].get<std::string>() << "  "
                << b["seconds"].dump() << " s\n";
    const int exitCode = EmitResult(
        log_, outcome,
        {{"sha256", summary_.empty() ? "" : summary_.front().value("sha256", "")}, {"boards", summary_}});
    std::error_code ec;
    for (const std::string& dir : copies_) fs::remove_all(PathFromName(dir), ec);
    return exitCode;
  }

  const CommandLine& line_;
  bool watching_ = false;  // past the checks of FILE and --log-dir
  EventLog& log_;
  SystemLoop loop_;
  FolderWatch watch_{loop_, [this](const std::string& path) { Changed(path); }};
  std::unique_ptr<PortArrivals> arrivals_;
  std::string watchDir_;            // --watch, absolute
  std::vector<std::string> named_;  // --port names, resolved
  std::map<std::string, std::unique_ptr<Board>> boards_;
  std::vector<std::string> copies_;  // private copies of the files, removed at the end
  std::string copy_;                 // the copy the next board gets
  std::string stamp_;
  std::vector<json> summary_;
  BoardSupervisor supervisor_;  // last: its children end before the boards they report to
  bool paused_ = false;
  bool logsLost_ = false;
  bool takingFile_ = false, takeAgain_ = false;
  bool stopping_ = false;
  int started_ = 0, passed_ = 0, failed_ = 0;
};

}  // namespace

int Station(const CommandLine& line) {
  EventLog log(std::cout, line.json);
  return StationRun(line, log).Run();
}

}  // namespace bm::cli
