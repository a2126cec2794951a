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
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QSerialPortInfo>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/cli/BoardSupervisor.h"
#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/FileCheck.h"
#include "app/cli/Interrupts.h"
#include "images/TextFile.h"

namespace bm::cli {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

// The files a load of `file` reads: a project's .hex and .eep beside it, or the file alone.
std::vector<fs::path> FilesOf(const fs::path& file) {
  std::vector<fs::path> files{file};
  if (TextFile::EndsWithNoCase(file.string(), ".ppro"))
    for (const char* ext : {".hex", ".eep"}) files.push_back(fs::path(file).replace_extension(ext));
  return files;
}

struct Board {
  std::string port;
  bool named = false;    // given with --port: a port without a loader is a failure
  bool present = false;  // its device entry is there now
  bool flashed = false;  // flashed during this appearance: not again until it comes back
  bool running = false;
  std::string status = "waiting";
  std::unique_ptr<QTimer> settle;
};

class StationRun {
 public:
  StationRun(const CommandLine& line, EventLog& log)
      : line_(line),
        log_(log),
        supervisor_(
            QCoreApplication::applicationFilePath().toStdString(),
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
    watching_ = true;
    TakeFile();
    for (const fs::path& f : FilesOf(line_.file)) {
      watcher_.addPath(QString::fromStdString(f.string()));
      watcher_.addPath(QString::fromStdString(f.parent_path().string()));
    }
    WatchPorts();
    QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged,
                     [this](const QString& path) { Changed(path); });
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged,
                     [this](const QString& path) { Changed(path); });
    Interrupts interrupts([this] { Interrupted(); });
    Rescan();
    loop_.exec();
    return Finish(failed_ > 0 ? Outcome::BoardsFailed : Outcome::Done);
  }

 private:
  // --- The file ---------------------------------------------------------------------------
  // Copies the files into a fresh private folder and checks that the copy loads; a copy that
  // does not pauses the station until the files load again.
  void TakeFile() {
    char pattern[] = "/tmp/brindlemark-station-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) return Pause("cannot make a private copy");
    std::error_code ec;
    for (const fs::path& f : FilesOf(line_.file))
      if (fs::exists(f, ec)) fs::copy_file(f, fs::path(dir) / f.filename(), ec);
    const fs::path copy = fs::path(dir) / fs::path(line_.file).filename();
    // The documented load, by this very program, as each board's child will run it.
    QProcess load;
    load.setChildProcessModifier([] { ::setpgid(0, 0); });  // a Ctrl-C now is the station's alone
    load.setStandardOutputFile(QProcess::nullDevice());
    load.setStandardErrorFile(QProcess::nullDevice());
    load.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("load"), QString::fromStdString(copy.string())});
    const int status =
        load.waitForFinished(30000) && load.exitStatus() == QProcess::NormalExit ? load.exitCode() : -1;
    if (status != kExitDone) {
      fs::remove_all(dir, ec);
      return Pause("it no longer loads");
    }
    const bool again = !copy_.empty();
    copies_.push_back(dir);
    copy_ = copy.string();
    paused_ = false;
    if (again)
      Say("info", "station: " + fs::path(line_.file).filename().string() + " changed on disk: loaded again");
    StartWaiting();
  }

  void Pause(const std::string& why) {
    if (!paused_)
      Say("error", "station: " + fs::path(line_.file).filename().string() + ": " + why +
                       "; paused until it loads again");
    paused_ = true;
  }

  void Changed(const QString& path) {
    // A rebuild may replace the file: watch it again under its name.
    for (const fs::path& f : FilesOf(line_.file)) {
      const QString name = QString::fromStdString(f.string());
      if (!watcher_.files().contains(name) && fs::exists(f)) watcher_.addPath(name);
    }
    const std::vector<fs::path> files = FilesOf(line_.file);
    const bool ours = std::any_of(files.begin(), files.end(),
                                  [&path](const fs::path& f) { return path.toStdString() == f.string(); });
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
    if (line_.watchDir) {
      // The folder may not exist yet, or vanish with the last adapter: its parent is watched too.
      const fs::path dir(*line_.watchDir);
      watcher_.addPath(QString::fromStdString(dir.parent_path().string()));
      if (fs::is_directory(dir)) watcher_.addPath(QString::fromStdString(dir.string()));
    } else {
      watcher_.addPath(QStringLiteral("/dev"));  // a serial device comes and goes there
      for (const std::string& d : line_.ports.devices)
        watcher_.addPath(QString::fromStdString(fs::path(d).parent_path().string()));
    }
  }

  std::set<std::string> PresentPorts() const {
    std::set<std::string> present;
    std::error_code ec;
    if (line_.watchDir) {
      for (const auto& entry : fs::directory_iterator(*line_.watchDir, ec))
        present.insert(entry.path().string());
    } else if (line_.ports.devices.empty()) {
      for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        present.insert(info.systemLocation().toStdString());
    }
    for (const std::string& d : line_.ports.devices)
      if (fs::exists(d, ec)) present.insert(d);
    if (line_.watchDir && !line_.ports.devices.empty()) {
      std::set<std::string> named;
      for (const std::string& d : line_.ports.devices)
        if (present.count(d)) named.insert(d);
      return named;
    }
    return present;
  }

  void Rescan() {
    if (line_.watchDir && fs::is_directory(*line_.watchDir) &&
        !watcher_.directories().contains(QString::fromStdString(*line_.watchDir)))
      watcher_.addPath(QString::fromStdString(*line_.watchDir));
    const std::set<std::string> present = PresentPorts();
    for (const std::string& port : present) {
      Board& b = BoardOf(port);
      if (b.present) continue;
      b.present = true;
      b.flashed = false;
      Emit(b, "appeared", json::object());
      b.settle = std::make_unique<QTimer>();
      b.settle->setSingleShot(true);
      QObject::connect(b.settle.get(), &QTimer::timeout, [this, &b] { Start(b); });
      b.settle->start(line_.settleMs);
    }
    for (auto& [port, b] : boards_) {
      if (!b->present || present.count(port)) continue;
      b->present = false;
      if (b->settle) b->settle->stop();
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
      b->named = std::find(line_.ports.devices.begin(), line_.ports.devices.end(), port) !=
                 line_.ports.devices.end();
    }
    return *b;
  }

  // --- The boards ---------------------------------------------------------------------------
  void StartWaiting() {
    for (auto& [port, b] : boards_)
      if (b->present && !b->flashed && !b->running && !(b->settle && b->settle->isActive())) Start(*b);
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
        if (c == '/' || c == ':' || c == ' ') c = '_';
      launch.logBase = *line_.logDir + "/" +
                       QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss-zzz").toStdString() + device;
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
    if (result.outcome == Outcome::Done) {
      ++passed_;
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
    if ((stopping_ || limitReached) && Running() == 0) loop_.quit();
  }

  int Running() const { return supervisor_.Running(); }

  void Interrupted() {
    if (!stopping_) {
      stopping_ = true;
      Say("info", "station: no new boards; " + std::to_string(Running()) +
                      " running to their end (Ctrl-C again stops them)");
      if (Running() == 0) loop_.quit();
      return;
    }
    supervisor_.StopAll();  // each child ends its run as quitting does: a failed board
  }

  // --- What the operator sees -----------------------------------------------------------------
  void Emit(const Board& b, const std::string& event, const json& rest) {
    json fields{{"port", b.port}};
    fields.update(rest);
    log_.Emit(event, fields);
    if (!log_.Enabled() || event == "appeared" || event == "gone" || event == "result")
      std::cerr << b.port << ": " << event << (rest.empty() ? "" : " " + rest.dump()) << '\n';
  }

  void Say(const char* kind, const std::string& text) {
    std::cerr << text << '\n';
    log_.Emit("message", {{"kind", kind}, {"text", text}});
  }

  void Draw() const {
    if (isatty(STDERR_FILENO) != 1) return;
    std::cerr << "passed " << passed_ << ", failed " << failed_ << " |";
    for (const auto& [port, b] : boards_)
      std::cerr << ' ' << fs::path(port).filename().string() << ": " << b->status << ';';
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
    for (const std::string& dir : copies_) fs::remove_all(dir, ec);
    return exitCode;
  }

  const CommandLine& line_;
  bool watching_ = false;  // past the checks of FILE and --log-dir
  EventLog& log_;
  QEventLoop loop_;
  QFileSystemWatcher watcher_;
  std::map<std::string, std::unique_ptr<Board>> boards_;
  std::vector<std::string> copies_;  // private copies of the files, removed at the end
  std::string copy_;                 // the copy the next board gets
  std::string stamp_;
  std::vector<json> summary_;
  BoardSupervisor supervisor_;  // last: its children end before the boards they report to
  bool paused_ = false;
  bool stopping_ = false;
  int started_ = 0, passed_ = 0, failed_ = 0;
};

}  // namespace

int Station(const CommandLine& line) {
  EventLog log(std::cout, line.json);
  return StationRun(line, log).Run();
}

}  // namespace bm::cli
