// The loading step: the Load button, and LoadFiles with its branch per file kind.
#include <algorithm>

#include "images/ProjectFile.h"
#include "images/TextFile.h"
#include "images/UHexLoad.h"
#include "shell/core/Main.h"
#include "shell/core/RuntimeExceptionPlus.h"

namespace bm {
namespace {

constexpr int kDefaultBaud = 57600;
constexpr size_t kFillChunk = 4096;  // a yield per 4 KiB keeps the fill well under a millisecond per turn

void Fill(std::vector<uint8_t>& buffer, EventLoop& loop) {
  for (size_t at = 0; at < buffer.size(); at += kFillChunk) {
    const size_t end = std::min(buffer.size(), at + kFillChunk);
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(at),
              buffer.begin() + static_cast<std::ptrdiff_t>(end), uint8_t{0xFF});
    loop.yield();
  }
}

}  // namespace

void Main::FOpenBtn_Action() {
  if (Busy()) return;
  BusyScope busy(*this);
  bool loading = false;
  try {
    const std::vector<FileKind> kinds{
        {"qorm/hex", "HEX", {"hex", "HEX"}},
        {"qorm/eep", "EEP", {"eep", "EEP"}},
        {"qorm/ppro", "PPRO", {"ppro", "PPRO"}},
        {"qorm/pack", "PACK", {"pac", "PAC", "pack", "PACK"}},
    };
    const std::optional<std::string> chosen = dialogs.OpenFile(kinds);
    g.f = chosen ? TextFile::Resolve(*chosen) : std::nullopt;
    if (!g.f) return;
    // Only whether it opens for reading: pack files are binary, so the content is not judged.
    if (!TextFile::CanOpen(*g.f)) {
      dialogs.MessageBox("The selected file is not a text file.");
      return;
    }
    loading = true;
    LoadFiles();
  } catch (...) {
    // The buffers are half-loaded: show mode 0 so nothing of them can be programmed while the
    // captions still name the previous file.
    if (loading) {
      g.Modus = 0;
      UpdateButtons();
    }
    RuntimeExceptionPlus::Cascade(std::current_exception(), "Main.OpenButton.Action");
  }
}

void Main::LoadFiles() {
  g.FBytesRead = 0;
  g.EBytesRead = 0;
  g.OrgEEpEnd = -1;
  g.OrgBootID = -1;
  g.Modus = 0;
  release();
  Fill(g.FlashArr, loop);
  Fill(g.EEpromArr, loop);

  const std::string name = g.f ? g.f->filename().string() : std::string();
  ParaEnable = false;
  if (name.empty()) return;
  const std::string path = g.f->string();

  std::string deviceIdText;
  std::string cpuText;
  baudFromLoad_ = kDefaultBaud;
  using TextFile::EndsWithNoCase;
  if (EndsWithNoCase(name, ".PPRO")) {
    LoadProject(deviceIdText, cpuText);
  } else if (EndsWithNoCase(name, ".PAC") || EndsWithNoCase(name, ".PACK") || EndsWithNoCase(name, ".ENC") ||
             EndsWithNoCase(name, ".ENCR")) {
    const bool encrypted = EndsWithNoCase(name, ".ENC") || EndsWithNoCase(name, ".ENCR");
    const bool ok =
        encrypted ? dParamList::LoadEncFile(path) : dParamList::LoadPackFile(path, g, params, dialogs, loop);
    if (ok) {
      g.OrgID = params.eDeviceID;
      deviceIdText = ProjectFile::Hex(g.OrgID);
      cpuText = params.eCPUname;
      g.OrgEEpEnd = params.eEEpromMax;
      g.OrgBootID = params.eBootID;
      ParaEnable = true;
    }
  } else if (EndsWithNoCase(name, ".HEX")) {
    deviceIdText = "---";
    g.OrgID = 0;
    g.FBytesRead = UHexLoad::IntelHex(path, false, g, dialogs, loop);
  } else if (EndsWithNoCase(name, ".EEP")) {
    deviceIdText = "---";
    g.OrgID = 0;
    g.EBytesRead = UHexLoad::IntelHex(path, true, g, dialogs, loop);
  } else {
    dialogs.MessageBox("Project file \"*.ppro\" expected!");
  }

  if (g.FBytesRead > 0 || g.EBytesRead > 0) {
    display.SetTitle("Brindlemark [" + name + "]");
    display.SetCaption(Caption::FNameCapt, name);
    display.SetCaption(Caption::FlashSizeCapt, std::to_string(g.FBytesRead) + " Bytes");
    display.SetCaption(Caption::EEpSizeCapt, std::to_string(g.EBytesRead) + " Bytes");
    display.SetCaption(Caption::SourceDevIDcapt, deviceIdText);
    display.SetCaption(Caption::CPUnameCapt, cpuText);
    g.Modus = 1;
    ComPort.SetBaudRate(baudFromLoad_);
    UpdateComSettings(baudFromLoad_);
  } else {
    display.SetTitle("Brindlemark []");
    display.SetCaption(Caption::FNameCapt, "none");
    display.SetCaption(Caption::FlashSizeCapt, "0 Bytes");
    display.SetCaption(Caption::EEpSizeCapt, "0 Bytes");
    display.SetCaption(Caption::SourceDevIDcapt, "---");
    display.SetCaption(Caption::CPUnameCapt, "---");
    g.Modus = 0;
  }
  display.SetCheckValue(Check::ProgFlashChk, g.FBytesRead > 0);
  display.SetCheckValue(Check::ProgEEpChk, g.EBytesRead > 0);
  UpdateButtons();
}

}  // namespace bm
