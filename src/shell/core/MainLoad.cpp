// The loading step: the Load button, and LoadFiles with its branch per file kind.
#include <algorithm>

#include "base/HexText.h"
#include "base/RuntimeExceptionPlus.h"
#include "images/FileReads.h"
#include "images/ProjectFile.h"
#include "images/TextFile.h"
#include "images/UHexLoad.h"
#include "protocol/wire.h"
#include "shell/core/FileStamp.h"
#include "shell/core/Main.h"

namespace bm {
namespace {

constexpr size_t kFillChunk = 4096;  // a yield per 4 KiB keeps the fill well under a millisecond per turn

void Fill(std::vector<uint8_t>& buffer, EventLoop& loop) {
  for (size_t at = 0; at < buffer.size(); at += kFillChunk) {
    const size_t end = std::min(buffer.size(), at + kFillChunk);
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(at),
              buffer.begin() + static_cast<std::ptrdiff_t>(end), uint8_t{0xFF});
    loop.yield();
  }
}

// The BaudRate for a message: the number, or the text as the project wrote it ("fast") when it
// is no number, which would otherwise read as 0.
std::string RateAsWritten(int baud, const std::string& text) {
  const bool number = !text.empty() && text.find_first_not_of("-0123456789") == std::string::npos;
  return text.empty() || number ? std::to_string(baud) : "\"" + text + "\"";
}

}  // namespace

void Main::LoadFile(const std::string& path) {
  if (Busy()) return;
  shown_.answer = path;
  FOpenBtn_Action();
  shown_.answer.reset();
}

void Main::FOpenBtn_Action() {
  if (Busy()) return;
  BusyScope busy(*this);
  lastLoad_ = {};
  found_.clear();
  shownFound_ = 0;
  bool loading = false;
  try {
    const std::vector<FileKind> kinds{
        {"qorm/hex", "HEX", {"hex", "HEX"}, "Intel HEX flash image"},
        {"qorm/eep", "EEP", {"eep", "EEP"}, "Intel HEX EEPROM image"},
        {"qorm/ppro", "PPRO", {"ppro", "PPRO"}, "Project"},
        {"qorm/pack", "PACK", {"pac", "PAC", "pack", "PACK"}, "Pack file"},
    };
    // The dialog starts where the file loaded last lies (a rebuilt image sits beside it).
    if (!chosen_.empty()) shown_.SetStartFolder(chosen_.parent_path().string());
    const std::optional<std::string> chosen = shown_.OpenFile(kinds);
    g.f = chosen ? TextFile::Resolve(*chosen) : std::nullopt;
    if (!g.f) return;
    // Only whether it opens for reading: pack files are binary, so the content is not judged.
    if (!TextFile::CanOpen(*g.f)) {
      found_.push_back(
          {DiagnosticKind::Error, DiagnosticCode::NotATextFile, "The selected file is not a text file."});
      ShowFound();
      return;
    }
    loading = true;
    lastLoad_ = LoadFiles();
  } catch (...) {
    // What the readers found before the error is shown before the error itself.
    ShowFound();
    // The buffers are half-loaded: show mode 0 so nothing of them can be programmed while the
    // captions still name the previous file.
    if (loading) {
      g.Modus = Mode::None;
      UpdateButtons();
    }
    lastLoad_ = {false, found_};
    RuntimeExceptionPlus::Cascade(std::current_exception(), "Main.OpenButton.Action");
  }
}

void Main::ShowFound() {
  for (; shownFound_ < found_.size(); ++shownFound_) {
    const Diagnostic& d = found_[shownFound_];
    // An encrypted pack gets no box: the loading step has nothing to open, only a line to say why.
    if (d.code == DiagnosticCode::Encrypted)
      display.SetCaption(Caption::status0, d.text);
    else
      shown_.MessageBox(d.text);
  }
  lastLoad_.diagnostics = found_;
}

LoadResult Main::LoadFiles() {
  const size_t foundBefore = found_.size();
  g.FBytesRead = 0;
  g.EBytesRead = 0;
  g.OrgEEpEnd = -1;
  g.OrgBootID = -1;
  g.Modus = Mode::None;
  release();
  Fill(g.FlashArr, loop);
  Fill(g.EEpromArr, loop);

  const std::string name = g.f ? g.f->filename().string() : std::string();
  ParaEnable = false;
  bool loaded = false;
  bool namesRate = false;
  if (!name.empty()) {
    const FileRead read = ReadChosenFile(name);
    namesRate = read.baudNamed;
    ShowFound();
    if (read.damaged) {
      g.FBytesRead = 0;
      g.EBytesRead = 0;
    }
    loaded = g.FBytesRead > 0 || g.EBytesRead > 0;
    ShowLoad(loaded, name, read);
  }
  ShowFound();
  return {loaded, Diagnostics(found_.begin() + static_cast<std::ptrdiff_t>(foundBefore), found_.end()),
          namesRate};
}

Main::FileRead Main::ReadChosenFile(const std::string& name) {
  const std::string path = g.f->string();
  chosen_ = *g.f;
  filesRead_ = {chosen_};
  FileRead read;
  const FileReads reads;
  using TextFile::EndsWithNoCase;
  if (EndsWithNoCase(name, ".PPRO")) {
    LoadProject(read);
  } else if (EndsWithNoCase(name, ".ENC") || EndsWithNoCase(name, ".ENCR")) {
    dParamList::LoadEncFile(path);  // never accepted
    found_.push_back({DiagnosticKind::Error, DiagnosticCode::Encrypted,
                      "Encrypted files (.enc, .encr) cannot be loaded: " + name});
  } else if (EndsWithNoCase(name, ".PAC") || EndsWithNoCase(name, ".PACK")) {
    const dParamList::PackRead pack = dParamList::LoadPackFile(path, g, params, found_, loop);
    g.f = pack.file;
    // Images copied before a failed read belong to a pack whose IDs were never taken over.
    read.damaged = !pack.ok;
    if (pack.ok) {
      g.OrgID = params.eDeviceID;
      read.deviceIdText = HexNumber(static_cast<uint32_t>(g.OrgID));
      read.cpuText = params.eCPUname;
      g.OrgEEpEnd = params.eEEpromMax;
      g.OrgBootID = params.eBootID;
      ParaEnable = true;
    }
  } else if (EndsWithNoCase(name, ".HEX") || EndsWithNoCase(name, ".EEP")) {
    const bool toEEPROM = EndsWithNoCase(name, ".EEP");
    read.deviceIdText = "---";
    g.OrgID = 0;
    const UHexLoad::HexRead hex = UHexLoad::IntelHex(path, toEEPROM, g, g.st, found_, loop);
    g.f = hex.file;
    (toEEPROM ? g.EBytesRead : g.FBytesRead) = hex.end;
    read.damaged = hex.damaged;
  } else {
    found_.push_back(
        {DiagnosticKind::Error, DiagnosticCode::UnknownKind, "Project file \"*.ppro\" expected!"});
  }
  if (!EndsWithNoCase(name, ".PPRO")) projectWaitAfterOpenMs_ = 0;
  stamps_.clear();
  for (const std::filesystem::path& file : filesRead_) stamps_.push_back(StampOf(file, reads.BytesOf(file)));
  loadBaud_ = read.baud;
  return read;
}

void Main::ShowLoad(bool loaded, const std::string& name, const FileRead& read) {
  if (loaded) {
    display.SetTitle("Brindlemark [" + name + "]");
    display.SetCaption(Caption::FNameCapt, name);
    display.SetCaption(Caption::FlashSizeCapt, std::to_string(g.FBytesRead) + " Bytes");
    display.SetCaption(Caption::EEpSizeCapt, std::to_string(g.EBytesRead) + " Bytes");
    display.SetCaption(Caption::SourceDevIDcapt, read.deviceIdText);
    display.SetCaption(Caption::CPUnameCapt, read.cpuText);
    g.Modus = Mode::FileLoaded;
    if (UsableBaudRate(read.baud)) {
      ComPort.SetBaudRate(read.baud);
      UpdateComSettings(read.baud);
    } else {
      found_.push_back({DiagnosticKind::Warning, DiagnosticCode::UnusableBaudRate,
                        "The project's BaudRate " + RateAsWritten(read.baud, read.baudText) +
                            " is not a usable rate; the rate stays at " + std::to_string(ComPort.BaudRate()) +
                            "."});
      ShowFound();
    }
  } else {
    display.SetTitle("Brindlemark []");
    display.SetCaption(Caption::FNameCapt, "none");
    display.SetCaption(Caption::FlashSizeCapt, "0 Bytes");
    display.SetCaption(Caption::EEpSizeCapt, "0 Bytes");
    display.SetCaption(Caption::SourceDevIDcapt, "---");
    display.SetCaption(Caption::CPUnameCapt, "---");
    g.Modus = Mode::None;
  }
  display.SetCheckValue(Check::ProgFlashChk, g.FBytesRead > 0);
  display.SetCheckValue(Check::ProgEEpChk, g.EBytesRead > 0);
  UpdateButtons();
}

bool Main::UsableBaudRate(int baud) { return baud > 0 && ComPort.Service().UsableBaudRate(baud); }

void Main::LoadProject(FileRead& read) {
  const ProjectFile::ProjectKeys keys = ProjectFile::ReadProject(g.f->string(), g.st, loop);
  g.OrgID = keys.OrgID;
  read.deviceIdText = HexNumber(static_cast<uint32_t>(g.OrgID));
  read.cpuText = keys.CPUname;
  g.OrgBootID = keys.OrgBootID;
  g.OrgEEpEnd = keys.OrgEEpEnd;
  read.baud = keys.BaudRate;
  read.baudText = keys.BaudRateText;
  read.baudNamed = keys.namesBaudRate;
  projectWaitAfterOpenMs_ = keys.WaitAfterOpenMs;

  for (const std::string& image : {keys.flashPath, keys.eepromPath})
    if (auto file = TextFile::Resolve(image)) filesRead_.push_back(*file);
  const UHexLoad::HexRead flash = UHexLoad::IntelHex(keys.flashPath, false, g, g.st, found_, loop);
  ShowFound();  // the .hex file's boxes come before the .eep file is read
  g.f = flash.file;
  g.FBytesRead = flash.end;
  const size_t eepromFirst = found_.size();
  const UHexLoad::HexRead eeprom = UHexLoad::IntelHex(keys.eepromPath, true, g, g.st, found_, loop);
  // A project whose .eep does not exist is a project without an EEPROM image: its report stays
  // as it is worded, but it is a warning, not a fault of the file.
  if (eeprom.missing) {
    for (size_t i = eepromFirst; i < found_.size(); ++i)
      if (found_[i].code == DiagnosticCode::OpenFailed)
        found_[i] = {DiagnosticKind::Warning, DiagnosticCode::EepromMissing, found_[i].text};
  }
  ShowFound();
  g.f = eeprom.file;
  g.EBytesRead = eeprom.end;
  read.damaged = flash.damaged || eeprom.damaged;
}

bool Main::ReloadIfChanged() {
  const FileStamp* changed = FirstChanged(stamps_);
  if (!changed) return true;
  const std::string changedName = changed->path.filename().string();
  // What the run keeps: the connection, the user's check boxes and the port's rate; and what the
  // new files must still expect to go on with them.
  const bool flashBox = display.CheckValue(Check::ProgFlashChk);
  const bool eepromBox = display.CheckValue(Check::ProgEEpChk);
  const int32_t device = g.OrgID, loader = g.OrgBootID, baud = loadBaud_;

  found_.clear();
  shownFound_ = 0;
  g.FBytesRead = 0;
  g.EBytesRead = 0;
  g.OrgEEpEnd = -1;
  g.OrgBootID = -1;
  Fill(g.FlashArr, loop);
  Fill(g.EEpromArr, loop);
  ParaEnable = false;
  g.f = chosen_;
  const std::string name = chosen_.filename().string();
  const FileRead read = ReadChosenFile(name);
  ShowFound();
  if (read.damaged) {
    g.FBytesRead = 0;
    g.EBytesRead = 0;
  }
  const bool loaded = g.FBytesRead > 0 || g.EBytesRead > 0;
  lastLoad_ = {loaded, found_};

  std::string why;
  if (!loaded)
    why = "it no longer loads";
  else if (g.OrgID != device)
    why = "the file now expects the device ID " + HexNumber(static_cast<uint32_t>(g.OrgID)) + " instead of " +
          HexNumber(static_cast<uint32_t>(device));
  else if (g.OrgBootID != loader)
    why = "the file now expects the loader ID " + HexNumber(static_cast<uint32_t>(g.OrgBootID)) +
          " instead of " + HexNumber(static_cast<uint32_t>(loader));
  else if (read.baud != baud)
    why = "the file now expects the BaudRate " + std::to_string(read.baud) + " instead of " +
          std::to_string(baud);
  if (why.empty()) {
    display.SetCaption(Caption::FlashSizeCapt, std::to_string(g.FBytesRead) + " Bytes");
    display.SetCaption(Caption::EEpSizeCapt, std::to_string(g.EBytesRead) + " Bytes");
    display.SetCaption(Caption::CPUnameCapt, read.cpuText);
    display.SetCheckValue(Check::ProgFlashChk, flashBox);
    display.SetCheckValue(Check::ProgEEpChk, eepromBox);
    display.SetCaption(Caption::status0, changedName + " changed on disk: loaded again");
    lastRun_.reloaded = changedName;
    return true;
  }
  // Nothing is written: the window shows the new load as it is, connected while it loads.
  ShowLoad(loaded, name, read);
  if (!loaded) release();
  if (loaded && ComPort.IsOpen()) ShowConnection();
  shown_.MessageBox(changedName + " changed on disk and " + why + ": nothing was written.");
  return false;
}

}  // namespace bm
