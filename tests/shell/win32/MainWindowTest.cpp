// The Win32 window's real controls in process, on a screen (xvfb under wine): creation state,
// captions and places, menus and shortcuts, what UpdateButtons does to them, a person's run
// through Load, Comport, Download and Stop on the simulated target, a dropped file, the other
// windows, and closing during a run. The presenter runs over recorded dialogs and an event loop
// with injected time, as in the Qt window's tests (tests/shell/qt).
#include <gtest/gtest.h>

#include <memory>

#include "platform/PortList.h"
#include "platform/sim/ExampleBoard.h"
#include "platform/sim/SimSerialPort.h"
#include "shell/core/Engine.h"
#include "shell/core/Presenter.h"
#include "shell/win32/Layout.h"
#include "shell/win32/MainWindow.h"
#include "shell/win32/OtherWindows.h"
#include "shell/win32/Text.h"
#include "shell/win32/Ui.h"
#include "support/Inside.h"
#include "support/ModeTable.h"
#include "support/RecordingDialogs.h"
#include "support/ScriptedEventLoop.h"
#include "support/WindowFiles.h"

// clang-format off
#include <shlobj.h>  // DROPFILES; after Ui.h, which brings <windows.h> and takes its macros back
#undef MessageBox
#undef Yield
// clang-format on

namespace bm {
namespace {

using namespace Util;
using namespace bm::win32;
using test::Fixtures;

// The window over a presenter; with the simulated target as the one port "sim" when asked.
struct Rig {
  explicit Rig(bool withTarget = false) {
    if (withTarget) {
      target = std::make_shared<sim::SimTarget>(sim::ExampleBoardConfig(), loop.Clock());
      ports.Add(std::make_unique<sim::SimSerialService>(target));
    }
    presenter.SetClock(loop.Clock());
    window.Attach(presenter);
    window.Show(SW_SHOWNOACTIVATE);
    window.Open();
  }
  ~Rig() {
    if (IsWindow(window.Handle())) DestroyWindow(window.Handle());
    // The window's end posts WM_QUIT to this thread: not for the next test.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  HWND Find(int id) const { return window.Control(id); }
  std::string Text(int id) const {
    wchar_t text[512] = L"";
    GetWindowTextW(Find(id), text, 512);
    return Utf8(text);
  }
  std::string Title() const {
    wchar_t text[512] = L"";
    GetWindowTextW(window.Handle(), text, 512);
    return Utf8(text);
  }
  uint32_t Lamp(int id) const { return LampColour(Find(id)); }
  bool Enabled(int id) const { return IsWindowEnabled(Find(id)); }
  bool Checked(int id) const { return SendMessageW(Find(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  void Click(int id) const { SendMessageW(Find(id), BM_CLICK, 0, 0); }
  void Command(int id) const { SendMessageW(window.Handle(), WM_COMMAND, id, 0); }
  bool ItemEnabled(int id) const {
    return !(GetMenuState(GetMenu(window.Handle()), id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED));
  }
  std::string BaudEntries() const {
    HWND box = Find(kBaudSelect);
    std::string entries;
    for (int i = 0; i < SendMessageW(box, CB_GETCOUNT, 0, 0); ++i) {
      wchar_t text[32] = L"";
      SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      entries += (i ? "," : "") + Utf8(text);
    }
    return entries + " @" + std::to_string(SendMessageW(box, CB_GETCURSEL, 0, 0));
  }

  test::RecordingDialogs dialogs;
  test::ScriptedEventLoop loop;
  PortList ports;
  std::shared_ptr<sim::SimTarget> target;
  MainWindow window;
  Engine engine{loop, ports};
  Presenter presenter{engine, window.Display(), dialogs};
};

// Handles the thread's messages until `done` holds or a generous time is over.
bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
  const DWORD end = GetTickCount() + static_cast<DWORD>(ms);
  while (!done()) {
    if (static_cast<int>(GetTickCount() - end) > 0) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(5);
  }
  return true;
}

TEST(Win32Window, EveryControlAtItsPlaceWithItsCaptionAndState) {
  struct Case {
    int id;
    int l, t, w, h;
    const char* caption;
    bool enabled;
  };
  const Case cases[] = {
      {kGroupBox1, 8, 38, 216, 206, " File state  ", true},
      {kStaticText9, 26, 64, 54, 20, "Loaded:", true},
      {kFNameCapt, 26, 84, 161, 20, "none", true},
      {kStaticText10, 26, 104, 69, 20, "Flash size:", true},
      {kFlashSizeCapt, 117, 104, 100, 20, "0 Bytes", true},
      {kProgFlashChk, 26, 190, 110, 20, "ProgFlashChk", true},
      {kProgEEpChk, 26, 215, 100, 20, "ProgEEpChk", true},
      {kStaticText4, 26, 124, 83, 20, "EEprom size:", true},
      {kEEpSizeCapt, 117, 124, 100, 20, "0 Bytes", true},
      {kStaticText5, 26, 144, 63, 20, "Device ID:", true},
      {kStaticText11, 26, 164, 69, 20, "CPU name:", true},
      {kSourceDevIDcapt, 117, 144, 100, 20, "---", true},
      {kCPUnameCapt, 117, 164, 100, 20, "---", true},
      {kGroupBox2, 231, 38, 216, 206, " Target state ", true},
      {kLedRed, 249, 76, 20, 20, "", true},
      {kLedYellow, 249, 109, 20, 20, "", true},
      {kLedGreen, 249, 142, 20, 20, "", true},
      {kTargDevIDcapt, 249, 215, 190, 20, "Device ID: ---", true},
      {kTargLoaderIDcapt, 248, 190, 190, 20, "Loader ID: ---", true},
      {kStaticText2, 300, 108, 42, 20, "Mode", true},
      {kModeLabel, 300, 127, 110, 20, "none", true},
      {kProgressBar1, 424, 67, 14, 166, "", true},
      {kFOpenBtn, 8, 6, 80, 20, "Load", true},
      {kComportBtn, 98, 6, 80, 20, "Comport", false},
      {kDownLdBtn, 188, 6, 80, 20, "Download", false},
      {kEraseBtn, 278, 6, 80, 20, "Erase", false},
      {kStopBtn, 368, 6, 80, 20, "Stop", true},
      {kGroupBox3, 8, 248, 440, 25, "", true},
      {kStatus0, 17, 250, 207, 20, "", true},  // emptied by Open
      {kStatus1, 239, 250, 208, 20, "", true},
  };
  Rig rig;
  const int dpi = rig.window.Dpi();
  for (const Case& c : cases) {
    SCOPED_TRACE(FindControl(c.id)->name);
    HWND w = rig.Find(c.id);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(GetParent(w), rig.window.Handle());
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(nullptr, rig.window.Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, Scaled(c.l, dpi));
    EXPECT_EQ(r.top, Scaled(c.t, dpi));
    EXPECT_EQ(r.right - r.left, Scaled(c.w, dpi));
    EXPECT_EQ(r.bottom - r.top, Scaled(c.h, dpi));
    EXPECT_EQ(rig.Text(c.id), c.caption);
    EXPECT_EQ(rig.Enabled(c.id), c.enabled);
  }
  EXPECT_EQ(rig.Title(), "Brindlemark");
  RECT client;
  GetClientRect(rig.window.Handle(), &client);
  EXPECT_EQ(client.right, Scaled(kClientWidth, dpi));
  EXPECT_EQ(client.bottom, Scaled(kClientHeight, dpi));
  const LONG_PTR style = GetWindowLongPtrW(rig.window.Handle(), GWL_STYLE);
  EXPECT_FALSE(style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) << "one size";
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(GetWindowLongPtrW(rig.Find(kProgressBar1), GWL_STYLE) & PBS_VERTICAL);
  EXPECT_EQ(rig.Lamp(kLedRed), clMaroon);
  EXPECT_EQ(rig.Lamp(kLedYellow), clOlive);
  EXPECT_EQ(rig.Lamp(kLedGreen), clGreen);
  EXPECT_EQ(rig.BaudEntries(), "9600,19200,38400,57600 @0");
  EXPECT_FALSE(rig.Checked(kProgFlashChk));
  EXPECT_FALSE(rig.window.TimerActive());
  // The mode's title bold, the mode itself not.
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(rig.Find(kStaticText2), WM_GETFONT, 0, 0)), sizeof font,
             &font);
  EXPECT_GE(font.lfWeight, FW_BOLD);
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(rig.Find(kModeLabel), WM_GETFONT, 0, 0)), sizeof font,
             &font);
  EXPECT_LT(font.lfWeight, FW_BOLD);
}

TEST(Win32Window, MenuBarCaptionsOrderAndShortcuts) {
  Rig rig;
  HMENU bar = GetMenu(rig.window.Handle());
  ASSERT_EQ(GetMenuItemCount(bar), 2);
  wchar_t text[128];
  GetMenuStringW(bar, 0, text, 128, MF_BYPOSITION);
  EXPECT_EQ(Utf8(text), "&File");
  GetMenuStringW(bar, 1, text, 128, MF_BYPOSITION);
  EXPECT_EQ(Utf8(text), "&Help");
  const struct {
    int menu, position;
    const char* caption;  // "-" a separator
    bool enabled;
  } items[] = {
      {0, 0, "Load\tCtrl+O", true},
      {0, 1, "Parameter", false},
      {0, 2, "-", true},
      {0, 3, "&Quit\tCtrl+Q", true},
      {1, 0, "Help Contents", true},
      {1, 1, "Release Notes", true},
      {1, 2, "-", true},
      {1, 3, "Check for Updates", true},
      {1, 4, "-", true},
      {1, 5, "About Tarnwick", true},
  };
  for (const auto& item : items) {
    SCOPED_TRACE(item.caption);
    HMENU menu = GetSubMenu(bar, item.menu);
    const UINT state = GetMenuState(menu, item.position, MF_BYPOSITION);
    if (std::string(item.caption) == "-") {
      EXPECT_TRUE(state & MF_SEPARATOR);
      continue;
    }
    GetMenuStringW(menu, item.position, text, 128, MF_BYPOSITION);
    EXPECT_EQ(Utf8(text), item.caption);
    EXPECT_EQ(!(state & MF_GRAYED), item.enabled);
  }

  // Ctrl+O is Load, as its item; Ctrl+Q is Quit. The key state is the thread's own.
  BYTE keys[256] = {};
  keys[VK_CONTROL] = 0x80;
  SetKeyboardState(keys);
  MSG msg{rig.Find(kStopBtn), WM_KEYDOWN, 'O', 0, 0, {}};
  EXPECT_TRUE(rig.window.FilterMessage(&msg));
  EXPECT_EQ(rig.dialogs.openCount, 1);
  msg.wParam = 'Q';
  EXPECT_TRUE(rig.window.FilterMessage(&msg));
  EXPECT_FALSE(IsWindow(rig.window.Handle())) << "nothing running: closed at once";
  keys[VK_CONTROL] = 0;
  SetKeyboardState(keys);
}

TEST(Win32Window, UpdateButtonsDrivesTheRealControls) {
  Rig rig;
  for (const test::ModeRow& c : test::kModeRows)
    for (bool checksBefore : {true, false}) {
      SCOPED_TRACE(c.why);
      SCOPED_TRACE(checksBefore ? "check boxes enabled before" : "check boxes disabled before");
      StatusDisplay& display = rig.window.Display();
      display.SetCheckEnabled(Check::ProgFlashChk, checksBefore);
      display.SetCheckEnabled(Check::ProgEEpChk, checksBefore);
      display.SetCaption(Caption::status0, "busy");
      display.SetProgress(60);
      test::Inside(rig.presenter).mode = static_cast<Mode>(c.modus);
      test::Inside(rig.presenter).g.FBytesRead = c.flashBytes;
      test::Inside(rig.presenter).g.EBytesRead = c.eepromBytes;
      rig.presenter.UpdateButtons();
      EXPECT_EQ(rig.window.TimerActive(), c.timer);
      EXPECT_EQ(rig.Lamp(kLedRed), c.red);
      EXPECT_EQ(rig.Lamp(kLedYellow), c.yellow);
      EXPECT_EQ(rig.Lamp(kLedGreen), c.green);
      EXPECT_EQ(rig.Enabled(kFOpenBtn), c.load);
      EXPECT_EQ(rig.ItemEnabled(kMenuLoad), c.load) << "File > Load follows the button";
      EXPECT_EQ(rig.Enabled(kComportBtn), c.comport);
      EXPECT_EQ(rig.Enabled(kDownLdBtn), c.download);
      EXPECT_EQ(rig.Enabled(kEraseBtn), c.erase);
      EXPECT_TRUE(rig.Enabled(kStopBtn));
      EXPECT_EQ(rig.Text(kModeLabel), c.mode);
      EXPECT_EQ(rig.Enabled(kProgFlashChk), c.FlashChkAfter(checksBefore));
      EXPECT_EQ(rig.Enabled(kProgEEpChk), c.EepChkAfter(checksBefore));
      EXPECT_EQ(rig.Text(kStatus0), c.modus == 1 ? "" : "busy");
      EXPECT_EQ(SendMessageW(rig.Find(kProgressBar1), PBM_GETPOS, 0, 0), c.modus == 2 ? 0 : 60);
    }
}

TEST(Win32Window, RedLampBlinksOnTheTimerInProgramming) {
  Rig rig;
  test::Inside(rig.presenter).mode = Mode::Programming;
  rig.presenter.UpdateButtons();
  ASSERT_EQ(rig.Lamp(kLedRed), clRed);
  // The real 500 ms timer, through the window's forwarding.
  EXPECT_TRUE(PumpUntil([&] { return rig.Lamp(kLedRed) == clMaroon; }));
  EXPECT_TRUE(PumpUntil([&] { return rig.Lamp(kLedRed) == clRed; }));
  test::Inside(rig.presenter).mode = Mode::Connected;
  rig.presenter.UpdateButtons();
  EXPECT_FALSE(rig.window.TimerActive());
}

TEST(Win32Window, ProgressPastTheMaximumShowsFullAndZeroMaximumAsBusy) {
  Rig rig;
  StatusDisplay& display = rig.window.Display();
  HWND bar = rig.Find(kProgressBar1);
  display.SetProgress(128);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 100);
  display.SetProgressMaximum(0);
  EXPECT_TRUE(GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE) << "busy indicator";
  display.SetProgressMaximum(100);
  EXPECT_FALSE(GetWindowLongPtrW(bar, GWL_STYLE) & PBS_MARQUEE);
  display.SetProgress(43);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 43);
}

TEST(Win32Window, OnlyTheUsersBaudChoiceReachesThePortAndAnOddRateIsAnExtraEntry) {
  Rig rig;
  rig.window.Display().ShowBaudRate(57600);
  EXPECT_EQ(rig.BaudEntries(), "9600,19200,38400,57600 @3");
  EXPECT_EQ(test::Inside(rig.presenter).ComPort.BaudRate(), 9600) << "a selection by the logic fires nothing";
  rig.window.Display().ShowBaudRate(115200);
  rig.window.Display().ShowBaudRate(115200);
  EXPECT_EQ(rig.BaudEntries(), "9600,19200,38400,57600,115200 @4") << "one extra entry";
  // The user's choice: the list's own notification.
  SendMessageW(rig.Find(kBaudSelect), CB_SETCURSEL, 2, 0);
  SendMessageW(rig.window.Handle(), WM_COMMAND, MAKEWPARAM(kBaudSelect, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(rig.Find(kBaudSelect)));
  EXPECT_EQ(test::Inside(rig.presenter).ComPort.BaudRate(), 38400);
  EXPECT_EQ(rig.BaudEntries(), "9600,19200,38400,57600 @2") << "the extra entry goes";
}

// The tooltip a control shows.
std::string Tip(const Rig& rig, int id) {
  wchar_t text[1024] = L"";
  TTTOOLINFOW info{};
  info.cbSize = sizeof info;
  info.hwnd = rig.window.Handle();
  info.uId = reinterpret_cast<UINT_PTR>(rig.Find(id));
  info.lpszText = text;
  SendMessageW(rig.window.ToolTips(), TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&info));
  return Utf8(text);
}

TEST(Win32Window, CaptionsShowDoubledAmpersandsAsOne) {
  Rig rig;
  rig.window.Display().SetCaption(Caption::TargDevIDcapt, "Device ID : &&1E950F");
  EXPECT_EQ(rig.Text(kTargDevIDcapt), "Device ID : &1E950F");
  EXPECT_TRUE(GetWindowLongPtrW(rig.Find(kTargDevIDcapt), GWL_STYLE) & SS_NOPREFIX)
      << "shown, not a mnemonic";
  rig.window.Display().SetTitle("Brindlemark [bl\xC3\xBCnk.hex]");
  EXPECT_EQ(rig.Title(), "Brindlemark [bl\xC3\xBCnk.hex]");
}

TEST(Win32Window, EveryControlSaysWhatItDoesAndStatusLinesAndTheBarTheirTextsAsTips) {
  Rig rig;
  for (int id :
       {kLedRed,       kLedYellow,     kLedGreen,        kProgFlashChk,  kProgEEpChk,  kBaudSelect,
        kProgressBar1, kFOpenBtn,      kComportBtn,      kDownLdBtn,     kEraseBtn,    kStopBtn,
        kModeLabel,    kStatus0,       kStatus1,         kFlashSizeCapt, kEEpSizeCapt, kSourceDevIDcapt,
        kCPUnameCapt,  kTargDevIDcapt, kTargLoaderIDcapt}) {
    SCOPED_TRACE(FindControl(id)->name);
    EXPECT_FALSE(Tip(rig, id).empty());
  }
  EXPECT_EQ(Tip(rig, kProgFlashChk), "Write the flash image");
  EXPECT_NE(Tip(rig, kLedRed).find("blinking while programming"), std::string::npos);

  StatusDisplay& display = rig.window.Display();
  const std::string resting = Tip(rig, kStatus0);
  display.SetCaption(Caption::status0,
                     "Download finished and verified in 1.2 s (flash 0x0000-0x012B, EEPROM)");
  EXPECT_EQ(Tip(rig, kStatus0), "Download finished and verified in 1.2 s (flash 0x0000-0x012B, EEPROM)")
      << "the whole text of a narrow line";
  display.SetCaption(Caption::status0, "");
  EXPECT_EQ(Tip(rig, kStatus0), resting);
  display.SetProgressTip("43 %, about 2 s left");
  EXPECT_EQ(Tip(rig, kProgressBar1), "43 %, about 2 s left");
  display.SetProgressTip("");
  EXPECT_EQ(Tip(rig, kProgressBar1), "Progress of a download or erase");
  display.SetFilePath("C:\\Boards\\J\xC3\xBCrgen\\blink.ppro");
  EXPECT_EQ(Tip(rig, kFNameCapt), "C:\\Boards\\J\xC3\xBCrgen\\blink.ppro");
}

TEST(Win32Window, LoadComportDownloadStop) {
  Fixtures files;
  Rig rig(/*withTarget=*/true);
  rig.dialogs.answer = files.Path("blink.ppro");
  rig.Click(kFOpenBtn);
  EXPECT_EQ(rig.Title(), "Brindlemark [blink.ppro]");
  EXPECT_EQ(rig.Text(kFNameCapt), "blink.ppro");
  EXPECT_EQ(rig.Text(kFlashSizeCapt), "300 Bytes");
  EXPECT_EQ(rig.Text(kEEpSizeCapt), "4 Bytes");
  EXPECT_EQ(rig.Text(kSourceDevIDcapt), "1E950F");
  EXPECT_EQ(rig.Text(kCPUnameCapt), "ATmega328P");
  EXPECT_EQ(rig.Text(kModeLabel), "file loaded");
  EXPECT_EQ(rig.Lamp(kLedYellow), clYellow);
  EXPECT_TRUE(rig.Checked(kProgFlashChk));
  EXPECT_TRUE(rig.Checked(kProgEEpChk));
  EXPECT_EQ(rig.BaudEntries(), "9600,19200,38400,57600 @3");
  EXPECT_TRUE(rig.Enabled(kComportBtn));
  EXPECT_FALSE(rig.Enabled(kDownLdBtn));
  EXPECT_TRUE(rig.dialogs.messages.empty());
  // The dialog opens next in the folder of the file loaded last: a folder that is not ASCII.
  rig.dialogs.answer.reset();
  rig.Click(kFOpenBtn);
  EXPECT_EQ(PathFromName(rig.dialogs.shownFolder), files.folder);
  rig.dialogs.answer = files.Path("blink.ppro");
  rig.Click(kFOpenBtn);

  rig.Click(kComportBtn);
  EXPECT_EQ(rig.Text(kModeLabel), "Target connected");
  EXPECT_EQ(rig.Lamp(kLedGreen), clLime);
  EXPECT_EQ(rig.Text(kStatus1), "COMport sim");
  EXPECT_EQ(rig.Text(kTargDevIDcapt), "Device ID : &1E950F");
  EXPECT_EQ(rig.Text(kTargLoaderIDcapt), "Loader ID : &101");
  EXPECT_EQ(rig.window.ProgressMaximum(), 100) << "busy indicator over";
  EXPECT_TRUE(rig.Enabled(kDownLdBtn));
  EXPECT_TRUE(rig.Enabled(kBaudSelect));

  // While the download runs: blinking red with yellow lit, only Stop usable, baud locked.
  bool sawRun = false;
  rig.loop.When([&] { return rig.presenter.ModeNumber() == 3; },
                [&] {
                  sawRun = true;
                  EXPECT_EQ(rig.Text(kModeLabel), "programming");
                  EXPECT_EQ(rig.Text(kStatus0), "programming Flash");
                  EXPECT_TRUE(rig.window.TimerActive());
                  for (int id : {kFOpenBtn, kComportBtn, kDownLdBtn, kEraseBtn})
                    EXPECT_FALSE(rig.Enabled(id)) << id;
                  EXPECT_FALSE(rig.ItemEnabled(kMenuLoad));
                  EXPECT_TRUE(rig.Enabled(kStopBtn));
                  EXPECT_FALSE(rig.Enabled(kBaudSelect));
                });
  rig.Click(kDownLdBtn);
  EXPECT_TRUE(sawRun);
  EXPECT_TRUE(rig.dialogs.messages.empty()) << rig.dialogs.messages.front();
  EXPECT_EQ(rig.Text(kModeLabel), "Target connected");
  EXPECT_EQ(rig.Text(kStatus0).rfind("Download finished and verified in ", 0), 0u) << rig.Text(kStatus0);
  EXPECT_EQ(SendMessageW(rig.Find(kProgressBar1), PBM_GETPOS, 0, 0), 0) << "mode 2 empties the bar";
  EXPECT_FALSE(rig.window.TimerActive());
  EXPECT_EQ(GetFocus(), rig.Find(kDownLdBtn)) << "the next Space is the next board's download";
  EXPECT_TRUE(std::equal(files.flash.begin(), files.flash.end(), rig.target->Flash().begin()));
  EXPECT_TRUE(std::equal(files.eeprom.begin(), files.eeprom.end(), rig.target->Eeprom().begin()));

  rig.Click(kStopBtn);
  EXPECT_TRUE(rig.target->Started()) << "Stop sends X: the loader leaves";
  EXPECT_EQ(rig.Text(kModeLabel), "file loaded");
  EXPECT_FALSE(rig.Enabled(kDownLdBtn));
  EXPECT_EQ(rig.Text(kStatus0), "");
}

// A file dropped on the window: a DROPFILES block as the shell hands it over.
HDROP Drop(const std::vector<std::wstring>& files) {
  std::wstring list;
  for (const std::wstring& f : files) list += f + L'\0';
  list += L'\0';
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

TEST(Win32Window, ADroppedFileOrTheCommandLinesFileLoadsAsLoadDoes) {
  Fixtures files;
  const std::wstring pack = files.folder / "blink.pac";
  Rig dropped, named, two;
  SendMessageW(dropped.window.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(Drop({pack})), 0);
  named.window.LoadFileLater(files.Path("blink.pac"));
  EXPECT_TRUE(PumpUntil([&] { return named.Title() != "Brindlemark"; }));
  for (Rig* rig : {&dropped, &named}) {
    EXPECT_EQ(rig->dialogs.openCount, 0) << "the file is the dialog's answer; no dialog shows";
    EXPECT_EQ(rig->Title(), "Brindlemark [blink.pac]");
    EXPECT_EQ(rig->Text(kModeLabel), "file loaded");
    EXPECT_TRUE(rig->ItemEnabled(kMenuPara)) << "a pack enables Parameter";
  }
  // Two files at once: which one would be meant? Nothing is loaded.
  SendMessageW(two.window.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(Drop({pack, pack})), 0);
  EXPECT_EQ(two.Title(), "Brindlemark");
}

TEST(Win32Window, TheOtherWindows) {
  Fixtures files;
  Rig rig;
  rig.Command(kMenuCheckforUpdates);
  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  EXPECT_NE(rig.dialogs.messages[0].find("does not check for updates"), std::string::npos);

  rig.Command(kMenuHelpContents);
  ASSERT_NE(rig.window.Help(), nullptr);
  HWND help = rig.window.Help();
  EXPECT_TRUE(IsWindowVisible(help));
  wchar_t text[256];
  GetWindowTextW(help, text, 256);
  EXPECT_EQ(Utf8(text), "Brindlemark Help");
  rig.Command(kMenuReleaseNotes);
  EXPECT_EQ(rig.window.Help(), help) << "one window for either text";
  GetWindowTextW(help, text, 256);
  EXPECT_EQ(Utf8(text), "Brindlemark Release Notes");

  rig.Command(kMenuAboutTarnwick);
  HWND about = rig.window.About();
  ASSERT_NE(about, nullptr);
  RECT client;
  GetClientRect(about, &client);
  EXPECT_EQ(client.right, Scaled(284, DpiOf(about)));
  EXPECT_EQ(client.bottom, Scaled(326, DpiOf(about)));
  GetDlgItemTextW(about, kStatAppName, text, 256);
  EXPECT_EQ(Utf8(text), "Quorvex Tarnwick");
  GetDlgItemTextW(about, kEditAppCredits, text, 256);
  EXPECT_EQ(Utf8(text).rfind("Engineering:", 0), 0u);
  // Esc closes it, as the Close key does.
  SendMessageW(about, WM_COMMAND, IDCANCEL, 0);
  EXPECT_FALSE(IsWindowVisible(about));

  // Parameter: only after a pack; a list of twelve rows.
  rig.Command(kMenuPara);
  EXPECT_EQ(rig.window.ParamList(), nullptr) << "disabled: nothing";
  rig.window.LoadFile(files.Path("blink.pac"));
  rig.Command(kMenuPara);
  HWND list = rig.window.ParamList();
  ASSERT_NE(list, nullptr);
  GetWindowTextW(list, text, 256);
  EXPECT_EQ(Utf8(text), "Parameter list of Blink pack");
  EXPECT_EQ(ListView_GetItemCount(GetDlgItem(list, kListBox1)), 12);
  SendMessageW(GetDlgItem(list, kOKbutton), BM_CLICK, 0, 0);
  EXPECT_EQ(rig.window.ParamList(), nullptr) << "OK closes it";
}

TEST(Win32Window, ClosingDuringADownloadAsksAndYesEndsTheRunWithoutXThenCloses) {
  Fixtures files;
  Rig rig(true);
  rig.dialogs.answer = files.Path("blink.ppro");
  rig.Click(kFOpenBtn);
  rig.Click(kComportBtn);
  bool asked = false, stillOpen = false;
  rig.loop.When([&] { return rig.presenter.ModeNumber() == 3; },
                [&] {
                  SendMessageW(rig.window.Handle(), WM_CLOSE, 0, 0);
                  HWND question = rig.window.QuitQuestion();
                  ASSERT_NE(question, nullptr);
                  wchar_t text[256];
                  GetDlgItemTextW(question, kQuestionText, text, 256);
                  asked = Utf8(text) == "A download is running. Stop it and quit?";
                  EXPECT_FALSE(IsWindowEnabled(rig.window.Handle())) << "modal to the window";
                  EXPECT_FALSE(rig.presenter.QuitRequested()) << "nothing ends before the answer";
                  SendMessageW(question, WM_COMMAND, IDYES, 0);
                  stillOpen = IsWindow(rig.window.Handle());
                });
  rig.Click(kDownLdBtn);
  EXPECT_TRUE(asked);
  EXPECT_TRUE(stillOpen) << "the window waits for the run to end";
  EXPECT_TRUE(rig.presenter.QuitRequested());
  EXPECT_FALSE(IsWindow(rig.window.Handle())) << "closed once the run had unwound";
  EXPECT_FALSE(rig.target->Started()) << "quitting never sends X";
  EXPECT_TRUE(rig.dialogs.messages.empty());
}

TEST(Win32Window, AQuestionNotAnsweredIsClosedByTheRunsEnd) {
  Fixtures files;
  Rig rig(true);
  rig.dialogs.answer = files.Path("blink.ppro");
  rig.Click(kFOpenBtn);
  rig.Click(kComportBtn);
  rig.loop.When([&] { return rig.presenter.ModeNumber() == 3; },
                [&] { SendMessageW(rig.window.Handle(), WM_CLOSE, 0, 0); });
  rig.Click(kEraseBtn);
  EXPECT_EQ(rig.window.QuitQuestion(), nullptr);
  EXPECT_TRUE(IsWindow(rig.window.Handle()));
  EXPECT_TRUE(IsWindowEnabled(rig.window.Handle()));
  EXPECT_FALSE(rig.presenter.QuitRequested());
  EXPECT_EQ(rig.Text(kModeLabel), "Target connected");
}

}  // namespace
}  // namespace bm
