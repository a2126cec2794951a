// brindlemark-cli station: a production bench. FILE is loaded once (and again when it changes on
// disk); then each board is flashed the moment its port appears, by a child of this very program
// (`download --json` for that port, as gang does), and flashed again only after its port went
// away and came back. Ports appear as device entries in a watched folder (--watch DIR, such as
// /dev/serial/by-id) or as the system's serial ports; the folder is watched through the system's
// file notifications, never polled.
//
// Each child gets a private copy of the files, made when they were loaded, so a rebuild on disk
// in the middle of a board never mixes two images. The first Ctrl-C takes no new boards and lets
// the running ones finish; a second stops them (they count as failed).
#include <sys/prctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QSerialPortInfo>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

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

constexpr int kGraceMs = 3000;  // a stopped child that does not end within this is killed

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
  std::unique_ptr<QProcess> child;
  std::unique_ptr<QTimer> settle;
  std::string pending;
  std::ofstream jsonLog, textLog;
  json result;  // the child's result line
  double startedAt = 0;
};

class StationRun {
 public:
  StationRun(const CommandLine& line, EventLog& log) : line_(line), log_(log) {}

  int Run() {
    if (const std::optional<std::string> why = WhyNotLoadable(line_.file)) {
      Say("error", "station: cannot load '" + line_.file + "': " + *why);
      return Finish(kExitNotLoaded);
    }
    if (line_.logDir) {
      if (const std::optional<std::string> why = WhyNoLogs(*line_.logDir)) {
        Say("error", "station: cannot keep logs in '" + *line_.logDir + "': " + *why);
        return Finish(kExitUsage);
      }
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
    return Finish(failed_ > 0 ? kExitGangFailed : kExitDone);
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
    b.result = json();
    b.pending.clear();
    b.status = "flashing";
    b.startedAt = log_.Seconds();
    if (line_.logDir) {
      std::string device = b.port;
      for (char& c : device)
        if (c == '/' || c == ':' || c == ' ') c = '_';
      const std::string base = *line_.logDir + "/" +
                               QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss-zzz").toStdString() +
                               device;
      b.jsonLog = std::ofstream(base + ".jsonl");
      b.textLog = std::ofstream(base + ".log");
    }
    CommandLine child = line_;
    child.file = copy_;
    QStringList args;
    for (const std::string& a : ChildArguments(child, b.port)) args << QString::fromStdString(a);
    b.child = std::make_unique<QProcess>();
    b.child->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QObject::connect(b.child.get(), &QProcess::readyReadStandardOutput, [this, &b] { ReadLines(b); });
    QObject::connect(b.child.get(), &QProcess::readyReadStandardError, [&b] {
      const QByteArray text = b.child->readAllStandardError();
      if (b.textLog) b.textLog.write(text.constData(), text.size());
    });
    QObject::connect(b.child.get(), &QProcess::finished, [this, &b](int code, QProcess::ExitStatus status) {
      ReadLines(b);
      Ended(b, status == QProcess::NormalExit ? code : kExitInterrupted);
    });
    b.child->start(QCoreApplication::applicationFilePath(), args);
    Draw();
  }

  void ReadLines(Board& b) {
    b.pending += b.child->readAllStandardOutput().toStdString();
    for (size_t end; (end = b.pending.find('\n')) != std::string::npos;) {
      const std::string text = b.pending.substr(0, end);
      b.pending.erase(0, end + 1);
      if (b.jsonLog) b.jsonLog << text << '\n';
      const json event = json::parse(text, nullptr, false);
      if (event.is_discarded() || !event.contains("event")) continue;
      const std::string name = event["event"].get<std::string>();
      if (name == "progress") b.status = "flashing " + std::to_string(event.value("percent", 0)) + " %";
      if (name == "result") b.result = event;
      json rest = json::object();
      for (const auto& [key, value] : event.items())
        if (key != "event" && key != "t") rest[key] = value;
      if (name != "progress" || event.value("percent", 0) % 10 == 0) Emit(b, name, rest);
    }
  }

  void Ended(Board& b, int exitCode) {
    b.running = false;
    const double seconds = log_.Seconds() - b.startedAt;
    const bool noLoader = exitCode == kExitNotFound && !b.named;
    char text[64];
    if (exitCode == kExitDone) {
      ++passed_;
      std::snprintf(text, sizeof text, "done in %.1f s", seconds);
      b.status = text;
    } else if (noLoader) {
      b.status = "no loader";  // not retried until the port comes back
    } else {
      ++failed_;
      b.status = "FAILED: " + b.result.value("outcome", std::string("exit ") + std::to_string(exitCode));
    }
    json board{{"port", b.port},
               {"outcome", noLoader ? "skipped" : b.result.value("outcome", "failed")},
               {"exitCode", exitCode},
               {"seconds", Millis(seconds)},
               {"sha256", b.result.value("sha256", "")},
               {"flashSha256", b.result.value("flashSha256", json(nullptr))},
               {"eepromSha256", b.result.value("eepromSha256", json(nullptr))},
               {"signature", "-"}};
    summary_.push_back(board);
    Draw();
    const bool limitReached = line_.maxBoards && started_ >= *line_.maxBoards;
    if ((stopping_ || limitReached) && Running() == 0) loop_.quit();
  }

  int Running() const {
    int n = 0;
    for (const auto& [port, b] : boards_) n += b->running;
    return n;
  }

  void Interrupted() {
    if (!stopping_) {
      stopping_ = true;
      Say("info", "station: no new boards; " + std::to_string(Running()) +
                      " running to their end (Ctrl-C again stops them)");
      if (Running() == 0) loop_.quit();
      return;
    }
    for (auto& [port, b] : boards_) {
      if (!b->running) continue;
      b->child->terminate();  // the child ends its run as quitting does: a failed board
      QProcess* child = b->child.get();
      QTimer::singleShot(kGraceMs, child, [child] {
        if (child->state() != QProcess::NotRunning) child->kill();
      });
    }
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

  int Finish(int exitCode) {
    const double hours = log_.Seconds() / 3600;
    char tally[128];
    std::snprintf(tally, sizeof tally, "station: %d passed, %d failed (%.0f an hour)", passed_, failed_,
                  hours > 0 ? (passed_ + failed_) / hours : 0.0);
    // A station refused before it watched anything says only why (one line).
    if (watching_) std::cerr << "\n" << tally << '\n';
    for (const json& b : summary_)
      std::cerr << "  " << b["port"].get<std::string>() << "  " << b["outcome"].get<std::string>() << "  "
                << b["seconds"].dump() << " s\n";
    log_.Emit("result", {{"outcome", NameOf(exitCode == kExitDone         ? Outcome::Done
                                            : exitCode == kExitGangFailed ? Outcome::BoardsFailed
                                            : exitCode == kExitUsage      ? Outcome::Usage
                                                                          : Outcome::LoadFailed)},
                         {"failures", json::array()},
                         {"exitCode", exitCode},
                         {"seconds", Millis(log_.Seconds())},
                         {"sha256", summary_.empty() ? "" : summary_.front().value("sha256", "")},
                         {"flashSha256", nullptr},
                         {"eepromSha256", nullptr},
                         {"boards", summary_}});
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
