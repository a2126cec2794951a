// The loading step: a file read into the buffers by the reader for its kind, and the same reading
// again before a run when a file changed on disk since.
#include <algorithm>

#include "base/HexText.h"
#include "base/RuntimeExceptionPlus.h"
#include "images/ProjectFile.h"
#include "images/TextFile.h"
#include "images/UHexLoad.h"
#include "protocol/wire.h"
#include "shell/core/Engine.h"

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

// What a changed file that was read again must not show: any finding but a missing .eep the load
// itself reported too (a project without an EEPROM image stays one).
bool ShowsNewFinding(const LoadResult& now, const LoadResult& before) {
  return std::any_of(now.diagnostics.begin(), now.diagnostics.end(), [&](const Diagnostic& d) {
    return !(d.code == DiagnosticCode::EepromMissing && before.Has(DiagnosticCode::EepromMissing));
  });
}

// Why an image read again cannot stand in for the one loaded: gone, or shorter (a file cut
// short while it was written, a build that failed half-way); empty when it can.
std::string ShorterImage(const char* what, int32_t now, int32_t before) {
  if (before > 0 && now <= 0) return std::string("its ") + what + " image is gone";
  if (now < before)
    return std::string("its ") + what + " image is shorter than the one loaded (" + std::to_string(now) +
           " instead of " + std::to_string(before) + " bytes)";
  return {};
}

}  // namespace

void Engine::ResetImages() {
  g.FBytesRead = 0;
  g.EBytesRead = 0;
  g.OrgEEpEnd = -1;
  g.OrgBootID = -1;
  Fill(g.FlashArr, loop);
  Fill(g.EEpromArr, loop);
}

LoadResult Engine::Load(const std::string& name) {
  Diagnostics found;
  size_t told = 0;
  loaded_ = {};
  loaded_.baud = ComPort.BaudRate();
  try {
    g.f = TextFile::Resolve(name);
    if (!g.f) return loaded_;
    loaded_.fileName = g.f->filename().string();
    // Only whether it opens for reading: pack files are binary, so the content is not judged.
    if (!TextFile::CanOpen(*g.f)) {
      found.push_back(
          {DiagnosticKind::Error, DiagnosticCode::NotATextFile, "The selected file is not a text file."});
      TellFindings(found, told);
      loaded_.diagnostics = found;
      return loaded_;
    }
    ResetImages();
    release();
    loaded_ = LoadFiles(*g.f, found, told);
    if (loaded_.loaded) {
      const BaudChoice choice = ChooseBaudRate(baudSources_, projectRate_);
      if (UsableBaudRate(choice.rate)) {
        ComPort.SetBaudRate(choice.rate);
      } else if (choice.fromFront) {
        loaded_.baudProblem = "the BaudRate " + std::to_string(choice.rate) +
                              " is not a usable rate; the rate stays at " +
                              std::to_string(ComPort.BaudRate()) + ".";
      } else {
        found.push_back({DiagnosticKind::Warning, DiagnosticCode::UnusableBaudRate,
                         "The project's BaudRate " + RateAsWritten(choice.rate, projectRateText_) +
                             " is not a usable rate; the rate stays at " +
                             std::to_string(ComPort.BaudRate()) + "."});
        TellFindings(found, told);
      }
    }
    loaded_.diagnostics = found;
    loaded_.baud = ComPort.BaudRate();
    return loaded_;
  } catch (...) {
    // What the readers found before the error is told before the error itself. The buffers are
    // half-loaded: nothing of them may be programmed.
    TellFindings(found, told);
    g.FBytesRead = 0;
    g.EBytesRead = 0;
    loaded_.loaded = false;
    loaded_.diagnostics = found;
    // The trail keeps the Load button's documented location name, which fronts and their users see.
    RuntimeExceptionPlus::Cascade(std::current_exception(), "Main.OpenButton.Action");
  }
}

LoadResult Engine::LoadFiles(std::filesystem::path file, Diagnostics& found, size_t& told) {
  const std::string path = file.string();
  const std::string name = file.filename().string();
  chosen_ = file;
  LoadResult load;
  load.fileName = name;
  bool damaged = false;  // a format error, or a pack whose read failed: nothing of it may be programmed
  std::vector<std::filesystem::path> looked{file};  // every file the load reads or looks for
  std::vector<FileSeen> seen;
  projectRate_.reset();
  projectRateText_.clear();
  using TextFile::EndsWithNoCase;
  if (EndsWithNoCase(name, ".PPRO")) {
    damaged = LoadProject(path, load, found, told, looked, seen);
  } else if (EndsWithNoCase(name, ".ENC") || EndsWithNoCase(name, ".ENCR")) {
    dParamList::LoadEncFile(path);  // never accepted
    found.push_back({DiagnosticKind::Error, DiagnosticCode::Encrypted,
                     "Encrypted files (.enc, .encr) cannot be loaded: " + name});
  } else if (EndsWithNoCase(name, ".PAC") || EndsWithNoCase(name, ".PACK")) {
    const dParamList::PackRead pack = dParamList::LoadPackFile(path, g, params, found, loop);
    g.f = pack.file;
    if (pack.seen) seen.push_back(*pack.seen);
    // Images copied before a failed read belong to a pack whose IDs were never taken over.
    damaged = !pack.ok;
    if (pack.ok) {
      g.OrgID = params.eDeviceID;
      load.deviceId = g.OrgID;
      load.cpuName = params.eCPUname;
      g.OrgEEpEnd = params.eEEpromMax;
      g.OrgBootID = params.eBootID;
      load.hasParameters = true;
    }
  } else if (EndsWithNoCase(name, ".HEX") || EndsWithNoCase(name, ".EEP")) {
    const bool toEEPROM = EndsWithNoCase(name, ".EEP");
    g.OrgID = 0;
    const UHexLoad::HexRead hex = UHexLoad::IntelHex(path, toEEPROM, g, g.st, found, loop);
    if (hex.seen) seen.push_back(*hex.seen);
    g.f = hex.file;
    (toEEPROM ? g.EBytesRead : g.FBytesRead) = hex.end;
    damaged = hex.damaged;
  } else {
    found.push_back(
        {DiagnosticKind::Error, DiagnosticCode::UnknownKind, "Project file \"*.ppro\" expected!"});
  }
  TellFindings(found, told);
  if (!EndsWithNoCase(name, ".PPRO")) projectWaitAfterOpenMs_ = 0;

  stamps_.clear();
  for (const std::filesystem::path& each : looked) {
    const auto read =
        std::find_if(seen.begin(), seen.end(), [&](const FileSeen& s) { return s.path == each; });
    stamps_.push_back(StampOf(each, read == seen.end() ? nullptr : &*read));
  }
  if (!seen.empty() && seen.front().path == file) load.sha256 = seen.front().sha256;
  if (damaged) {
    g.FBytesRead = 0;
    g.EBytesRead = 0;
  }
  load.loaded = g.FBytesRead > 0 || g.EBytesRead > 0;
  load.flashBytes = g.FBytesRead;
  load.eepromBytes = g.EBytesRead;
  load.expected = g;
  load.lastFile = g.f.value_or(file);
  load.diagnostics = found;
  load.baud = ComPort.BaudRate();
  return load;
}

bool Engine::LoadProject(const std::string& path, LoadResult& load, Diagnostics& found, size_t& told,
                         std::vector<std::filesystem::path>& looked, std::vector<FileSeen>& seen) {
  const ProjectFile::ProjectKeys keys = ProjectFile::ReadProject(path, g.st, loop);
  seen.push_back(keys.seen);
  g.OrgID = keys.OrgID;
  load.deviceId = g.OrgID;
  load.cpuName = keys.CPUname;
  g.OrgBootID = keys.OrgBootID;
  g.OrgEEpEnd = keys.OrgEEpEnd;
  if (keys.namesBaudRate) projectRate_ = keys.BaudRate;
  projectRateText_ = keys.BaudRateText;
  load.fileNamesRate = keys.namesBaudRate;
  projectWaitAfterOpenMs_ = keys.WaitAfterOpenMs;
  for (const std::string& image : {keys.flashPath, keys.eepromPath})
    if (auto resolved = TextFile::Resolve(image)) looked.push_back(*resolved);
  const UHexLoad::HexRead flash = UHexLoad::IntelHex(keys.flashPath, false, g, g.st, found, loop);
  TellFindings(found, told);  // the .hex file's findings come before the .eep file is read
  if (flash.seen) seen.push_back(*flash.seen);
  g.f = flash.file;
  g.FBytesRead = flash.end;
  const size_t eepromFirst = found.size();
  const UHexLoad::HexRead eeprom = UHexLoad::IntelHex(keys.eepromPath, true, g, g.st, found, loop);
  // A project whose .eep does not exist is a project without an EEPROM image: its report stays
  // as it is worded, but it is a warning, not a fault of the file.
  if (eeprom.missing) {
    for (size_t i = eepromFirst; i < found.size(); ++i)
      if (found[i].code == DiagnosticCode::OpenFailed)
        found[i] = {DiagnosticKind::Warning, DiagnosticCode::EepromMissing, found[i].text};
  }
  if (eeprom.seen) seen.push_back(*eeprom.seen);
  g.f = eeprom.file;
  g.EBytesRead = eeprom.end;
  return flash.damaged || eeprom.damaged;
}

bool Engine::ReloadIfChanged(RunReport& report) {
  const FileStamp* changed = FirstChanged(stamps_);
  if (!changed) return true;
  report.reloaded = changed->path.filename().string();
  // What the new files must still expect to go on with the connection.
  const LoadResult before = loaded_;
  const int32_t device = g.OrgID, loader = g.OrgBootID;
  const int baud = ChooseBaudRate(baudSources_, projectRate_).rate;

  ResetImages();
  Diagnostics found;
  size_t told = 0;
  try {
    loaded_ = LoadFiles(chosen_, found, told);
  } catch (...) {
    // Half-read buffers: nothing of them may be programmed, and the window must say so.
    TellFindings(found, told);
    g.FBytesRead = 0;
    g.EBytesRead = 0;
    loaded_ = {};
    loaded_.fileName = chosen_.filename().string();
    loaded_.diagnostics = found;
    release();
    Tell([&](Observer& o) { o.OnReloaded(loaded_, report.reloaded, false); });
    throw;
  }
  const LoadResult& now = loaded_;
  const int rate = ChooseBaudRate(baudSources_, projectRate_).rate;

  std::string why;
  if (!now.loaded) {
    why = "it no longer loads";
  } else if (ShowsNewFinding(now, before)) {
    why = "reading it again showed a message";
    // What it read is not what the user loaded: nothing of it may be programmed until it is
    // loaded on purpose (Load shows what it finds and loads what it can).
    g.FBytesRead = 0;
    g.EBytesRead = 0;
    loaded_.loaded = false;
    loaded_.flashBytes = loaded_.eepromBytes = 0;
  } else if (std::string shorter = ShorterImage("flash", now.flashBytes, before.flashBytes);
             !shorter.empty()) {
    why = shorter;
  } else if (std::string shorterEeprom = ShorterImage("EEPROM", now.eepromBytes, before.eepromBytes);
             !shorterEeprom.empty()) {
    why = shorterEeprom;
  } else if (g.OrgID != device) {
    why = "the file now expects the device ID " + HexNumber(static_cast<uint32_t>(g.OrgID)) + " instead of " +
          HexNumber(static_cast<uint32_t>(device));
  } else if (g.OrgBootID != loader) {
    why = "the file now expects the loader ID " + HexNumber(static_cast<uint32_t>(g.OrgBootID)) +
          " instead of " + HexNumber(static_cast<uint32_t>(loader));
  } else if (rate != baud) {
    why = "the file now expects the BaudRate " + std::to_string(rate) + " instead of " + std::to_string(baud);
  }
  const bool accepted = why.empty();
  if (!accepted && !loaded_.loaded) release();
  Tell([&](Observer& o) { o.OnReloaded(loaded_, report.reloaded, accepted); });
  if (accepted) return true;
  report.start = RunStart::FileChanged;
  report.why = why;
  return false;
}

}  // namespace bm
