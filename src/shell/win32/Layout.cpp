#include "shell/win32/Layout.h"

#include <array>

#include "shell/core/StatusDisplay.h"

namespace bm::win32 {
namespace {

// Frames first: a control inside one is created after it and so draws on top.
constexpr std::array kControls = std::to_array<ControlPlace>({
    {kGroupBox1, "GroupBox1", Kind::Frame, " File state  ", 8, 38, 216, 206},
    {kGroupBox2, "GroupBox2", Kind::Frame, " Target state ", 231, 38, 216, 206},
    {kGroupBox3, "GroupBox3", Kind::Frame, "", 8, 248, 440, 25},
    {kFOpenBtn, "FOpenBtn", Kind::Button, "Load", 8, 6, 80, 20},
    {kComportBtn, "ComportBtn", Kind::Button, "Comport", 98, 6, 80, 20, false},
    {kDownLdBtn, "DownLdBtn", Kind::Button, "Download", 188, 6, 80, 20, false},
    {kEraseBtn, "EraseBtn", Kind::Button, "Erase", 278, 6, 80, 20, false},
    {kStopBtn, "StopBtn", Kind::Button, "Stop", 368, 6, 80, 20},
    {kStaticText9, "StaticText9", Kind::Label, "Loaded:", 26, 64, 54, 20},
    {kFNameCapt, "FNameCapt", Kind::Label, "none", 26, 84, 161, 20},
    {kStaticText10, "StaticText10", Kind::Label, "Flash size:", 26, 104, 69, 20},
    {kFlashSizeCapt, "FlashSizeCapt", Kind::Label, "0 Bytes", 117, 104, 100, 20},
    {kStaticText4, "StaticText4", Kind::Label, "EEprom size:", 26, 124, 83, 20},
    {kEEpSizeCapt, "EEpSizeCapt", Kind::Label, "0 Bytes", 117, 124, 100, 20},
    {kStaticText5, "StaticText5", Kind::Label, "Device ID:", 26, 144, 63, 20},
    {kSourceDevIDcapt, "SourceDevIDcapt", Kind::Label, "---", 117, 144, 100, 20},
    {kStaticText11, "StaticText11", Kind::Label, "CPU name:", 26, 164, 69, 20},
    {kCPUnameCapt, "CPUnameCapt", Kind::Label, "---", 117, 164, 100, 20},
    {kProgFlashChk, "ProgFlashChk", Kind::Check, "ProgFlashChk", 26, 190, 110, 20},
    {kProgEEpChk, "ProgEEpChk", Kind::Check, "ProgEEpChk", 26, 215, 100, 20},
    {kLedRed, "LedRed", Kind::Lamp, "", 249, 76, 20, 20, true, Util::clMaroon},
    {kBaudSelect, "BaudSelect", Kind::Combo, "", 300, 76, 80, 20},
    {kLedYellow, "LedYellow", Kind::Lamp, "", 249, 109, 20, 20, true, Util::clOlive},
    {kStaticText2, "StaticText2", Kind::Label, "Mode", 300, 108, 42, 20},
    {kModeLabel, "ModeLabel", Kind::Label, "none", 300, 127, 110, 20},
    {kLedGreen, "LedGreen", Kind::Lamp, "", 249, 142, 20, 20, true, Util::clGreen},
    {kTargLoaderIDcapt, "TargLoaderIDcapt", Kind::Label, "Loader ID: ---", 248, 190, 190, 20},
    {kTargDevIDcapt, "TargDevIDcapt", Kind::Label, "Device ID: ---", 249, 215, 190, 20},
    {kProgressBar1, "ProgressBar1", Kind::Progress, "", 424, 67, 14, 166},
    {kStatus0, "status0", Kind::Label, "Untitled", 17, 250, 207, 20},
    {kStatus1, "status1", Kind::Label, "Untitled", 239, 250, 208, 20},
});

constexpr std::array kMenu = std::to_array<MenuItem>({
    {0, kMenuLoad, "load", "Load", "Ctrl+O"},
    {0, kMenuPara, "Para", "Parameter", nullptr},
    {0, 0, "UntitledSeparator", nullptr, nullptr},
    {0, kMenuQuit, "FileQuit", "&Quit", "Ctrl+Q"},
    {1, kMenuHelpContents, "HelpContents", "Help Contents", nullptr},
    {1, kMenuReleaseNotes, "ReleaseNotes", "Release Notes", nullptr},
    {1, 0, "UntitledSeparator0", nullptr, nullptr},
    {1, kMenuCheckforUpdates, "CheckforUpdates", "Check for Updates", nullptr},
    {1, 0, "UntitledSeparator1", nullptr, nullptr},
    {1, kMenuAboutTarnwick, "AboutTarnwick", "About Tarnwick", nullptr},
});

constexpr uint16_t kF4 = 0x73;
constexpr std::array kMainShortcuts = std::to_array<Shortcut>({{'O', kMenuLoad}, {'Q', kMenuQuit}});
constexpr std::array kCloseShortcuts = std::to_array<Shortcut>({{'W', kCloseWindow}, {kF4, kCloseWindow}});

}  // namespace

std::span<const ControlPlace> MainControls() { return kControls; }

const ControlPlace* FindControl(int id) {
  for (const ControlPlace& c : kControls)
    if (c.id == id) return &c;
  return nullptr;
}

const ControlPlace* FindControl(std::string_view name) {
  for (const ControlPlace& c : kControls)
    if (name == c.name) return &c;
  return nullptr;
}

std::span<const MenuItem> MainMenu() { return kMenu; }
std::span<const Shortcut> MainShortcuts() { return kMainShortcuts; }
std::span<const Shortcut> CloseShortcuts() { return kCloseShortcuts; }

}  // namespace bm::win32
