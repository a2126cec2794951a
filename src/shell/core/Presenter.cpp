// The presenter's handlers of the window's controls, and the loading step as the window shows it.
#include "shell/core/Presenter.h"

#include <chrono>
#include <utility>

#include "base/FileOpen.h"
#include "base/RuntimeExceptionPlus.h"
#include "shell/core/BaudRates.h"
#include "shell/core/LoadFace.h"

namespace bm {

Presenter::Presenter(Engine& engine, StatusDisplay& view_, Dialogs& dialogs_)
    : engine_(engine), view(view_), dialogs(dialogs_) {
  listening_ = engine_.Listen(*this);
  UnhandledException = [this](std::exception_ptr error) { ShowUnhandled(error); };
  nowMs_ = [start = std::chrono::steady_clock::now()] {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
}

void Presenter::ShowMessage(const std::string& text) { dialogs.MessageBox(text); }

void Presenter::Open() {
  view.SetCaption(Caption::status0, "");
  view.SetCaption(Caption::status1, "");
  UpdateComSettings();
  engine_.CountPorts();
}

void Presenter::Timer1_Action() {
  const bool lit = view.LedColour(Led::LedRed) == Util::clRed;
  view.SetLed(Led::LedRed, lit ? Util::clMaroon : Util::clRed);
}

void Presenter::BaudSelect_Change(int index) {
  if (index < 0 || index >= static_cast<int>(kBaudRates.size())) return;
  engine_.SetBaudRate(kBaudRates[static_cast<size_t>(index)]);
  UpdateComSettings();
}

bool Presenter::_load_Action() {
  FOpenBtn_Action();
  return false;
}

void Presenter::Handle(const std::function<void()>& handler) {
  try {
    handler();
  } catch (...) {
    UnhandledException(std::current_exception());
  }
}

void Presenter::ShowUnhandled(std::exception_ptr error) {
  dialogs.MessageBox("Unexpected error: " + RuntimeExceptionPlus::Message(error) +
                     RuntimeExceptionPlus::stackTrace(error));
}

Presenter::BusyScope::BusyScope(Presenter& presenter) : presenter_(presenter) {
  if (presenter_.busy_++ == 0) presenter_.view.SetBaudEnabled(false);
}

Presenter::BusyScope::~BusyScope() {
  if (--presenter_.busy_ == 0) presenter_.view.SetBaudEnabled(true);
}

void Presenter::LoadFile(const std::string& path) {
  if (Busy()) return;
  answer_ = path;
  FOpenBtn_Action();
  answer_.reset();
}

void Presenter::FOpenBtn_Action() {
  if (Busy()) return;
  BusyScope busy(*this);
  lastLoad_ = {};
  const std::vector<FileKind> kinds{
      {"qorm/hex", "HEX", {"hex", "HEX"}, "Intel HEX flash image"},
      {"qorm/eep", "EEP", {"eep", "EEP"}, "Intel HEX EEPROM image"},
      {"qorm/ppro", "PPRO", {"ppro", "PPRO"}, "Project"},
      {"qorm/pack", "PACK", {"pac", "PAC", "pack", "PACK"}, "Pack file"},
  };
  std::optional<std::string> chosen = std::exchange(answer_, std::nullopt);
  if (!chosen) {
    // The dialog starts where the file loaded last lies (a rebuilt image sits beside it).
    if (!startFolder_.empty()) dialogs.SetStartFolder(startFolder_);
    chosen = dialogs.OpenFile(kinds);
  }
  if (!chosen || chosen->empty()) {
    engine_.NoFileChosen();
    return;
  }
  try {
    lastLoad_ = engine_.Load(*chosen);
  } catch (...) {
    // The buffers are half-loaded: show mode 0 so nothing of them can be programmed while the
    // captions still name the previous file.
    ParaEnable = false;
    view.SetParameterEnabled(false);
    Modus = Mode::None;
    UpdateButtons();
    throw;
  }
  if (!engine_.State().f) return;
  startFolder_ = PathFromName(*chosen).parent_path().string();
  // A file that cannot be read at all changes nothing but says so.
  if (lastLoad_.Has(DiagnosticCode::NotATextFile)) return;
  ShowLoad(lastLoad_);
}

void Presenter::OnLog(const LogLine& line) {
  if (line.kind != LogLine::Kind::Finding) return;
  lastLoad_.diagnostics.push_back(line.finding);
  // An encrypted pack gets no box: the loading step has nothing to open, only a line to say why.
  if (line.finding.code == DiagnosticCode::Encrypted)
    view.SetCaption(Caption::status0, line.finding.text);
  else
    dialogs.MessageBox(line.finding.text);
}

void Presenter::ShowFace(const LoadFace& face) {
  view.SetTitle(face.title);
  view.SetCaption(Caption::FNameCapt, face.file);
  view.SetCaption(Caption::FlashSizeCapt, face.flashSize);
  view.SetCaption(Caption::EEpSizeCapt, face.eepromSize);
  view.SetCaption(Caption::SourceDevIDcapt, face.deviceId);
  view.SetCaption(Caption::CPUnameCapt, face.cpuName);
  Modus = face.mode;
  view.SetCheckValue(Check::ProgFlashChk, face.progFlash);
  view.SetCheckValue(Check::ProgEEpChk, face.progEeprom);
}

void Presenter::ShowLoad(const LoadResult& load) {
  ShowFace(FaceOfLoad(load));
  ParaEnable = load.hasParameters;
  view.SetParameterEnabled(ParaEnable);
  // The loaded file lies in the folder of the last file read (a project's images lie beside it).
  view.SetFilePath(load.loaded ? (load.lastFile.parent_path() / load.fileName).string() : std::string());
  UpdateComSettings();
  UpdateButtons();
}

void Presenter::OnReloaded(const LoadResult& load, const std::string& changed, bool accepted) {
  lastLoad_ = load;
  if (!accepted) {
    // Nothing is written: the window shows the new load as it is, connected while it loads.
    ShowLoad(load);
    if (load.loaded && engine_.PortOpen()) ShowConnection();
    return;
  }
  // The run keeps the connection, the user's check boxes and the port's rate.
  view.SetCaption(Caption::FlashSizeCapt, std::to_string(load.flashBytes) + " Bytes");
  view.SetCaption(Caption::EEpSizeCapt, std::to_string(load.eepromBytes) + " Bytes");
  view.SetCaption(Caption::CPUnameCapt, load.cpuName);
  ParaEnable = load.hasParameters;
  view.SetParameterEnabled(ParaEnable);
  view.SetCaption(Caption::status0, changed + " changed on disk: loaded again");
}

void Presenter::StopBtn_Action() {
  view.SetProgress(0);
  engine_.Stop();
  if (Modus != Mode::None) Modus = Mode::FileLoaded;
  UpdateButtons();
}

bool Presenter::WatchConnection() {
  if (Busy() || Modus != Mode::Connected) return false;
  if (!engine_.ConnectionLost()) return false;
  ShowConnection();
  view.SetCaption(Caption::status1, "Adapter unplugged");
  return true;
}

void Presenter::ShowConnection() {
  Modus = engine_.PortOpen() ? Mode::Connected : Mode::FileLoaded;
  UpdateButtons();
}

}  // namespace bm
