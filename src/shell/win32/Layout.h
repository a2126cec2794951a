// The main window's controls as the Win32 window creates them: each control's id, its control
// name, kind, caption and place, in pixels at 96 dpi inside the 455 × 279 client area (the
// documented layout; the window scales it to the monitor's DPI). Also the menu commands and the
// keyboard shortcuts. No <windows.h> here: the UI tests and the driver read the ids too.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace bm::win32 {

inline constexpr int kClientWidth = 455;
inline constexpr int kClientHeight = 279;

// The main window's window class: what the UI automation looks for.
inline constexpr const wchar_t* kMainClass = L"BrindlemarkMain";

// Control ids (the child window ids, GetDlgItem's).
enum ControlId : int {
  kFOpenBtn = 101,
  kComportBtn,
  kDownLdBtn,
  kEraseBtn,
  kStopBtn,
  kProgFlashChk = 111,
  kProgEEpChk,
  kBaudSelect = 121,
  kProgressBar1 = 131,
  kLedRed = 141,
  kLedYellow,
  kLedGreen,
  kFNameCapt = 151,
  kFlashSizeCapt,
  kEEpSizeCapt,
  kSourceDevIDcapt,
  kCPUnameCapt,
  kTargDevIDcapt,
  kTargLoaderIDcapt,
  kModeLabel,
  kStatus0,
  kStatus1,
  kGroupBox1 = 171,
  kGroupBox2,
  kGroupBox3,
  kStaticText9 = 181,
  kStaticText10,
  kStaticText4,
  kStaticText5,
  kStaticText11,
  kStaticText2,
};

// Menu commands (WM_COMMAND ids); the Qt window's item names in comments.
enum MenuId : int {
  kMenuLoad = 201,       // load
  kMenuPara,             // Para
  kMenuQuit,             // FileQuit
  kMenuHelpContents,     // HelpContents
  kMenuReleaseNotes,     // ReleaseNotes
  kMenuCheckforUpdates,  // CheckforUpdates
  kMenuAboutTarnwick,    // AboutTarnwick
  kCloseWindow = 299,    // the Close key of About, Help and the parameter list
};

enum class Kind { Frame, Label, Button, Check, Lamp, Combo, Progress };

struct ControlPlace {
  int id;
  const char* name;  // the control name
  Kind kind;
  const char* caption;
  int left, top, width, height;
  bool enabled = true;
  uint32_t lamp = 0;  // a lamp's colour at creation
};

std::span<const ControlPlace> MainControls();
const ControlPlace* FindControl(int id);
const ControlPlace* FindControl(std::string_view name);

// The menu bar: menus and items in display order; a null caption is a separator.
struct MenuItem {
  int menu;  // 0 File, 1 Help
  int id;
  const char* name;
  const char* caption;   // with "&" before a mnemonic
  const char* shortcut;  // shown after a tab, or null
};
inline constexpr const char* kMenuTitles[] = {"&File", "&Help"};
std::span<const MenuItem> MainMenu();

// A keyboard shortcut: a virtual key with Ctrl, to a command.
struct Shortcut {
  uint16_t key;  // a virtual-key code ('O', 0x73 for F4, ...)
  int command;
};
// The main window's: Ctrl+O Load, Ctrl+Q Quit.
std::span<const Shortcut> MainShortcuts();
// The other windows' Close key: Ctrl+W and Ctrl+F4 (Esc closes them too).
std::span<const Shortcut> CloseShortcuts();

}  // namespace bm::win32
