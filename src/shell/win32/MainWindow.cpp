#include "shell/win32/MainWindow.h"

#include <vector>

#include "shell/core/BaudRates.h"
#include "shell/core/WindowTexts.h"
#include "shell/win32/Layout.h"
#include "shell/win32/OtherWindows.h"
#include "shell/win32/Text.h"
#include "shell/win32/Ui.h"

namespace bm::win32 {
namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;
constexpr UINT_PTR kConnectionWatch = 2;
constexpr UINT kLoadPending = WM_APP + 1;
#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

LRESULT CALLBACK MainProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(w, GWLP_USERDATA));
  if (!self || !self->Handle()) return DefWindowProcW(w, message, wParam, lParam);
  return static_cast<LRESULT>(self->Message(message, wParam, lParam));
}

void RegisterMainClass() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), kMainClass, &wc)) return;
  wc.lpfnWndProc = MainProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = AppIcon(32);
  wc.hIconSm = AppIcon(16);
  wc.lpszClassName = kMainClass;
  RegisterClassExW(&wc);
}

HACCEL Accelerators(std::span<const Shortcut> shortcuts) {
  std::vector<ACCEL> table;
  for (const Shortcut& s : shortcuts)
    table.push_back({FVIRTKEY | FCONTROL, s.key, static_cast<WORD>(s.command)});
  return CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));
}

RECT PlaceOf(const ControlPlace& c) {
  // A drop-down list's height is that of its open list.
  return {c.left, c.top, c.width, c.kind == Kind::Combo ? 160 : c.height};
}

bool Owns(HWND top, HWND w) { return top && (w == top || IsChild(top, w)); }

}  // namespace

MainWindow::MainWindow() {
  INITCOMMONCONTROLSEX init{sizeof init, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES |
                                             ICC_BAR_CLASSES | ICC_TAB_CLASSES};
  InitCommonControlsEx(&init);
  RegisterMainClass();
  RegisterLampClass();
  RegisterOtherClasses();
  dpi_ = DpiOf(nullptr);
  const SIZE outer = OuterSize(kStyle, kExStyle, true, kClientWidth, kClientHeight, dpi_);
  // h_.window is set by the first message that reaches Message(), below.
  HWND w = CreateWindowExW(kExStyle, kMainClass, L"Brindlemark", kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                           outer.cx, outer.cy, nullptr, nullptr, GetModuleHandleW(nullptr), this);
  h_.window = w;
  // Made at the system's DPI; the monitor it opened on may have another.
  if (const int dpi = DpiOf(w); dpi != dpi_) {
    dpi_ = dpi;
    const SIZE size = OuterSize(kStyle, kExStyle, true, kClientWidth, kClientHeight, dpi_);
    SetWindowPos(w, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  CreateMenuBar();
  CreateControls();
  Relayout();
  shortcuts_ = Accelerators(MainShortcuts());
  closeShortcuts_ = Accelerators(CloseShortcuts());
  DragAcceptFiles(w, TRUE);
}

MainWindow::~MainWindow() {
  about_.reset();
  help_.reset();
  if (IsWindow(h_.window)) {
    SetWindowLongPtrW(h_.window, GWLP_USERDATA, 0);
    DestroyWindow(h_.window);
  }
  if (shortcuts_) DestroyAcceleratorTable(shortcuts_);
  if (closeShortcuts_) DestroyAcceleratorTable(closeShortcuts_);
  if (font_) DeleteObject(font_);
  if (bold_) DeleteObject(bold_);
}

HWND MainWindow::Control(int id) const {
  const auto it = h_.controls.find(id);
  return it == h_.controls.end() ? nullptr : it->second;
}

void MainWindow::CreateMenuBar() {
  HMENU bar = CreateMenu();
  HMENU menus[2] = {CreatePopupMenu(), CreatePopupMenu()};
  for (const MenuItem& item : MainMenu()) {
    if (!item.caption) {
      AppendMenuW(menus[item.menu], MF_SEPARATOR, 0, nullptr);
      continue;
    }
    std::wstring caption = Wide(item.caption);
    if (item.shortcut) caption += L"\t" + Wide(item.shortcut);
    AppendMenuW(menus[item.menu], MF_STRING | (item.id == kMenuPara ? MF_GRAYED : 0), item.id,
                caption.c_str());
  }
  for (int i = 0; i < 2; ++i)
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(menus[i]), Wide(kMenuTitles[i]).c_str());
  SetMenu(h_.window, bar);
  h_.menu = bar;
}

void MainWindow::CreateControls() {
  h_.tips = MakeToolTips(h_.window);
  for (const ControlPlace& c : MainControls()) {
    const std::wstring caption = Wide(c.caption);
    HWND child = nullptr;
    switch (c.kind) {
      case Kind::Frame:
        // The status lines' frame has no title: an etched frame, whose lines stay clear of them.
        child = *c.caption
                    ? Child(h_.window, L"BUTTON", caption, BS_GROUPBOX, c.id, PlaceOf(c), dpi_, nullptr)
                    : Child(h_.window, L"STATIC", L"", SS_ETCHEDFRAME, c.id, PlaceOf(c), dpi_, nullptr);
        break;
      case Kind::Label: {
        DWORD style = SS_LEFT | SS_NOPREFIX | SS_NOTIFY;
        if (c.id == kFNameCapt || c.id == kStatus0 || c.id == kStatus1) style |= SS_ENDELLIPSIS;
        if (c.id == kStatus0 || c.id == kStatus1) style |= SS_CENTERIMAGE;
        child = Child(h_.window, L"STATIC", caption, style, c.id, PlaceOf(c), dpi_, nullptr);
        break;
      }
      case Kind::Button:
        child =
            Child(h_.window, L"BUTTON", caption, BS_PUSHBUTTON | WS_TABSTOP, c.id, PlaceOf(c), dpi_, nullptr);
        break;
      case Kind::Check:
        child = Child(h_.window, L"BUTTON", caption, BS_AUTOCHECKBOX | WS_TABSTOP, c.id, PlaceOf(c), dpi_,
                      nullptr);
        break;
      case Kind::Lamp:
        child = Child(h_.window, kLampClass, L"", 0, c.id, PlaceOf(c), dpi_, nullptr);
        SetLampColour(child, c.lamp);
        break;
      case Kind::Combo:
        child = Child(h_.window, WC_COMBOBOXW, L"", CBS_DROPDOWNLIST | WS_TABSTOP | WS_VSCROLL, c.id,
                      PlaceOf(c), dpi_, nullptr);
        for (int rate : kBaudRates)
          SendMessageW(child, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(std::to_wstring(rate).c_str()));
        SendMessageW(child, CB_SETCURSEL, 0, 0);
        break;
      case Kind::Progress:
        child = Child(h_.window, PROGRESS_CLASSW, L"", PBS_VERTICAL | PBS_SMOOTH, c.id, PlaceOf(c), dpi_,
                      nullptr);
        SendMessageW(child, PBM_SETRANGE32, 0, 100);
        SendMessageW(child, PBM_SETPOS, 0, 0);
        break;
    }
    if (!c.enabled) EnableWindow(child, FALSE);
    h_.controls[c.id] = child;
    const std::string tip = ControlTip(c.name);
    if (!tip.empty()) SetTip(h_.tips, child, tip);
  }
}

void MainWindow::Relayout() {
  if (font_) DeleteObject(font_);
  if (bold_) DeleteObject(bold_);
  font_ = MessageFont(dpi_);
  bold_ = MessageFont(dpi_, true);
  for (const ControlPlace& c : MainControls()) {
    HWND child = Control(c.id);
    Place(child, PlaceOf(c), dpi_);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(c.id == kStaticText2 ? bold_ : font_), TRUE);
  }
  if (h_.tips) SendMessageW(h_.tips, TTM_SETMAXTIPWIDTH, 0, Scaled(360, dpi_));
  InvalidateRect(h_.window, nullptr, TRUE);
}

void MainWindow::Attach(Presenter& presenter) { main_ = &presenter; }

void MainWindow::Show(int how) {
  ShowWindow(h_.window, how);
  UpdateWindow(h_.window);
  SetFocus(Control(kFOpenBtn));
}

void MainWindow::Open() {
  Forward([this] { main_->Open(); });
  // Looks for an unplugged adapter while a target is connected and nothing runs.
  SetTimer(h_.window, kConnectionWatch, 500, nullptr);
}

void MainWindow::LoadFile(const std::string& path) {
  Forward([this, path] { main_->LoadFile(path); });
}

void MainWindow::LoadFileLater(const std::string& path) {
  pending_ = path;
  PostMessageW(h_.window, kLoadPending, 0, 0);
}

HWND MainWindow::ParamList() const { return IsWindow(paramList_) ? paramList_ : nullptr; }
HWND MainWindow::About() const { return about_ ? about_->Handle() : nullptr; }
HWND MainWindow::Help() const { return help_ ? help_->Handle() : nullptr; }
HWND MainWindow::QuitQuestion() const { return IsWindow(question_) ? question_ : nullptr; }

bool MainWindow::FilterMessage(void* message) {
  MSG* msg = static_cast<MSG*>(message);
  for (HWND top : {QuitQuestion(), ParamList(), About(), Help()}) {
    if (!Owns(top, msg->hwnd)) continue;
    if (top != QuitQuestion() && TranslateAcceleratorW(top, closeShortcuts_, msg)) return true;
    return IsDialogMessageW(top, msg);
  }
  if (!Owns(h_.window, msg->hwnd)) return false;
  if (TranslateAcceleratorW(h_.window, shortcuts_, msg)) return true;
  return IsDialogMessageW(h_.window, msg);
}

void MainWindow::Forward(const std::function<void()>& operation) {
  if (!main_) return;
  ++depth_;
  main_->Handle(operation);
  --depth_;
  EnableMenuItems();
  if (depth_ > 0 || main_->Busy()) return;
  // The run the question was about is over.
  if (HWND question = QuitQuestion()) DestroyWindow(question);
  if (main_->QuitRequested()) Close();
}

void MainWindow::ForwardRun(RunKind kind, const std::function<void()>& operation) {
  // A press while something runs returns at once: it is not the run the window speaks of.
  const bool starts = main_ && !main_->Busy();
  if (starts) pressedRun_ = kind;
  Forward(operation);
  if (starts) pressedRun_.reset();
}

void MainWindow::AskToStopAndQuit() {
  if (HWND open = QuitQuestion()) {
    SetForegroundWindow(open);
    return;
  }
  wchar_t title[256] = L"";
  GetWindowTextW(h_.window, title, 256);
  question_ = AskQuestion(h_.window, Utf8(title), QuitQuestionText(pressedRun_.value_or(RunKind::Download)),
                          [this](bool yes) {
                            // The run ends at its next wait; Forward closes the window once it
                            // has unwound.
                            if (yes && main_->Busy()) main_->RequestQuit();
                          });
}

void MainWindow::Close() {
  if (main_ && main_->Busy()) {
    if (pressedRun_ && !main_->QuitRequested()) {
      AskToStopAndQuit();
      return;
    }
    // A load or search: it ends at its next wait; Forward closes the window once it has unwound.
    main_->RequestQuit();
    return;
  }
  if (HWND list = ParamList()) DestroyWindow(list);
  for (HWND other : {About(), Help()})
    if (other) ShowWindow(other, SW_HIDE);
  DestroyWindow(h_.window);
}

void MainWindow::EnableMenuItems() {
  if (main_ && h_.menu)
    EnableMenuItem(h_.menu, kMenuPara, MF_BYCOMMAND | (main_->EnableMenuItems() ? MF_ENABLED : MF_GRAYED));
}

void MainWindow::_Para_Action() {
  Forward([this] {
    // A closed one is gone: the next one shows the parameter set as it is now.
    if (!ParamList()) paramList_ = ShowParamList(h_.window, main_->engine().Params());
    SetForegroundWindow(paramList_);
  });
}

void MainWindow::_AboutTarnwick_Action() {
  Forward([this] {
    if (!about_) about_ = std::make_unique<AboutWindow>(h_.window);
    about_->Show(true);
  });
}

void MainWindow::_HelpContents_Action() {
  Forward([this] {
    if (!help_) help_ = std::make_unique<HelpWindow>(h_.window);
    help_->ShowText(kHelpTitle, HelpContentsText());
  });
}

void MainWindow::_ReleaseNotes_Action() {
  Forward([this] {
    if (!help_) help_ = std::make_unique<HelpWindow>(h_.window);
    help_->ShowText(kReleaseNotesTitle, ReleaseNotesText());
  });
}

void MainWindow::_CheckforUpdates_Action() {
  Forward([this] { main_->ShowMessage(NoUpdateCheckText()); });
}

void MainWindow::Command(int id, int code) {
  switch (id) {
    case kFOpenBtn:
      if (code == BN_CLICKED) Forward([this] { main_->FOpenBtn_Action(); });
      return;
    case kComportBtn:
      if (code == BN_CLICKED) Forward([this] { main_->ComportBtn_Action(); });
      return;
    case kDownLdBtn:
      if (code == BN_CLICKED) ForwardRun(RunKind::Download, [this] { main_->DownLdBtn_Action(); });
      return;
    case kEraseBtn:
      if (code == BN_CLICKED) ForwardRun(RunKind::Erase, [this] { main_->EraseBtn_Action(); });
      return;
    case kStopBtn:
      if (code == BN_CLICKED) Forward([this] { main_->StopBtn_Action(); });
      return;
    case kBaudSelect:
      // Only the user's own choice: a selection the logic makes sends no CBN_SELCHANGE.
      if (code == CBN_SELCHANGE) {
        const int index = static_cast<int>(SendMessageW(Control(kBaudSelect), CB_GETCURSEL, 0, 0));
        Forward([this, index] { main_->BaudSelect_Change(index); });
      }
      return;
    case kMenuLoad:
      // The shortcut as the item: not while the Load button is disabled.
      if (IsWindowEnabled(Control(kFOpenBtn))) Forward([this] { main_->_load_Action(); });
      return;
    case kMenuPara:
      if (main_ && main_->EnableMenuItems()) _Para_Action();
      return;
    case kMenuQuit:
      Close();
      return;
    case kMenuHelpContents:
      _HelpContents_Action();
      return;
    case kMenuReleaseNotes:
      _ReleaseNotes_Action();
      return;
    case kMenuCheckforUpdates:
      _CheckforUpdates_Action();
      return;
    case kMenuAboutTarnwick:
      _AboutTarnwick_Action();
      return;
  }
}

void MainWindow::Dropped(void* handle) {
  HDROP drop = static_cast<HDROP>(handle);
  std::wstring path;
  if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
    path.resize(DragQueryFileW(drop, 0, nullptr, 0) + 1);
    path.resize(DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size())));
  }
  DragFinish(drop);
  // One file, and nothing running: loaded as Load loads a chosen one.
  if (path.empty() || !main_ || main_->Busy()) return;
  if (GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) return;
  LoadFile(Utf8(path));
}

long long MainWindow::Message(unsigned message, unsigned long long wParam, long long lParam) {
  HWND w = h_.window;
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == WindowDisplay::kTimer1)
        Forward([this] { main_->Timer1_Action(); });
      else if (wParam == kConnectionWatch && main_ && main_->ModeNumber() == 2 && !main_->Busy())
        Forward([this] { main_->WatchConnection(); });
      return 0;
    case WM_INITMENUPOPUP:
      EnableMenuItems();
      return 0;
    case WM_DROPFILES:
      Dropped(reinterpret_cast<void*>(wParam));
      return 0;
    case kLoadPending:
      if (pending_) {
        const std::string path = *pending_;
        pending_.reset();
        LoadFile(path);
      }
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      KillTimer(w, kConnectionWatch);
      PostQuitMessage(0);
      return 0;
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      Relayout();
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(w, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
  }
  return DefWindowProcW(w, message, wParam, lParam);
}

}  // namespace bm::win32
