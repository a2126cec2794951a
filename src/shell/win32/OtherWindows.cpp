#include "shell/win32/OtherWindows.h"

#include "shell/core/ParamListRows.h"
#include "shell/core/WindowTexts.h"
#include "shell/win32/Layout.h"
#include "shell/win32/Text.h"
#include "shell/win32/Ui.h"

namespace bm::win32 {
namespace {

constexpr DWORD kToolStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

void Register(const wchar_t* name, WNDPROC proc) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(Instance(), name, &wc)) return;
  wc.lpfnWndProc = proc;
  wc.hInstance = Instance();
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = AppIcon(32);
  wc.hIconSm = AppIcon(16);
  wc.lpszClassName = name;
  RegisterClassExW(&wc);
}

template <typename T>
T* Self(HWND w) {
  return reinterpret_cast<T*>(GetWindowLongPtrW(w, GWLP_USERDATA));
}

// Centres `w` over its owner.
void CentreOnOwner(HWND w) {
  HWND owner = GetWindow(w, GW_OWNER);
  RECT o, r;
  if (!owner || !GetWindowRect(owner, &o) || !GetWindowRect(w, &r)) return;
  const int x = o.left + ((o.right - o.left) - (r.right - r.left)) / 2;
  const int y = o.top + ((o.bottom - o.top) - (r.bottom - r.top)) / 2;
  SetWindowPos(w, nullptr, std::max<int>(x, 0), std::max<int>(y, 0), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetFont(HWND w, void*& slot, HFONT font) {
  SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  if (slot) DeleteObject(static_cast<HFONT>(slot));
  slot = font;
}

// --- About ----------------------------------------------------------------------------------

LRESULT CALLBACK AboutProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = Self<AboutWindow>(w);
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kCloseWindow) ShowWindow(w, SW_HIDE);
      return 0;
    case WM_CLOSE:
      ShowWindow(w, SW_HIDE);
      return 0;
    case WM_DPICHANGED:
      if (self) self->Layout();
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(w, &ps);
      const int dpi = DpiOf(w);
      const int size = Scaled(64, dpi);
      if (HICON icon = AppIcon(size)) {
        DrawIconEx(dc, Scaled(110, dpi), Scaled(8, dpi), icon, size, size, 0, nullptr, DI_NORMAL);
        DestroyIcon(icon);
      }
      EndPaint(w, &ps);
      return 0;
    }
  }
  return DefWindowProcW(w, message, wParam, lParam);
}

// --- Help -----------------------------------------------------------------------------------

LRESULT CALLBACK HelpProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = Self<HelpWindow>(w);
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kCloseWindow || LOWORD(wParam) == kHelpClose)
        ShowWindow(w, SW_HIDE);
      return 0;
    case WM_CLOSE:
      ShowWindow(w, SW_HIDE);
      return 0;
    case WM_SIZE:
    case WM_DPICHANGED:
      if (self) self->Layout();
      if (message == WM_DPICHANGED) {
        const RECT* r = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(w, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top, SWP_NOZORDER);
      }
      return 0;
  }
  return DefWindowProcW(w, message, wParam, lParam);
}

// --- The parameter list ---------------------------------------------------------------------

struct ParamList {
  HFONT font = nullptr;
};

LRESULT CALLBACK ParamListProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK || LOWORD(wParam) == kOKbutton ||
          LOWORD(wParam) == kCloseWindow)
        DestroyWindow(w);
      return 0;
    case WM_NOTIFY: {
      auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
      if (draw->nmcd.hdr.idFrom != kListBox1 || draw->nmcd.hdr.code != NM_CUSTOMDRAW) break;
      if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) {
        return CDRF_NOTIFYITEMDRAW;
      }
      if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
        // Even rows white, odd rows light blue, in both columns; the text black on either.
        const uint32_t rgb = ParamRowBackground(static_cast<int>(draw->nmcd.dwItemSpec));
        draw->clrTextBk = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
        draw->clrText = RGB(0, 0, 0);
        return CDRF_NEWFONT;
      }
      break;
    }
    case WM_NCDESTROY: {
      auto* list = Self<ParamList>(w);
      if (list) {
        if (list->font) DeleteObject(list->font);
        delete list;
      }
      break;
    }
  }
  return DefWindowProcW(w, message, wParam, lParam);
}

// --- The question ---------------------------------------------------------------------------

struct Question {
  std::function<void(bool)> answered;
  HFONT font = nullptr;
};

LRESULT CALLBACK QuestionProc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id != IDYES && id != IDNO && id != IDCANCEL) break;
      auto* q = Self<Question>(w);
      std::function<void(bool)> answered = q ? std::move(q->answered) : nullptr;
      DestroyWindow(w);
      if (answered) answered(id == IDYES);
      return 0;
    }
    case WM_CLOSE:
      PostMessageW(w, WM_COMMAND, IDNO, 0);
      return 0;
    case WM_DESTROY:
      // The owner again before this goes, so the activation returns to it.
      if (HWND owner = GetWindow(w, GW_OWNER)) {
        EnableWindow(owner, TRUE);
        SetActiveWindow(owner);
      }
      break;
    case WM_NCDESTROY: {
      auto* q = Self<Question>(w);
      if (q) {
        if (q->font) DeleteObject(q->font);
        delete q;
      }
      break;
    }
  }
  return DefWindowProcW(w, message, wParam, lParam);
}

}  // namespace

void RegisterOtherClasses() {
  Register(kAboutClass, AboutProc);
  Register(kHelpClass, HelpProc);
  Register(kParamListClass, ParamListProc);
  Register(kQuestionClass, QuestionProc);
}

// --- About ----------------------------------------------------------------------------------

AboutWindow::AboutWindow(HWND owner) {
  RegisterOtherClasses();
  // One space for a title: untitled.
  window_ = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kAboutClass, L" ", kToolStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, 300, 360, owner, nullptr, Instance(), nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  const DWORD label = SS_CENTER | SS_NOPREFIX;
  Child(window_, L"STATIC", L"", label, kStatAppName, {0, 0, 0, 0}, 96, nullptr);
  Child(window_, L"STATIC", L"", label, kStatAppVersion, {0, 0, 0, 0}, 96, nullptr);
  RichField(window_, kEditAppCredits, WS_VSCROLL);
  Child(window_, L"STATIC", L"", label, kStatAppNotice, {0, 0, 0, 0}, 96, nullptr);
}

AboutWindow::~AboutWindow() {
  if (IsWindow(window_)) DestroyWindow(window_);
  for (void* f : fonts_)
    if (f) DeleteObject(static_cast<HFONT>(f));
}

void AboutWindow::Show(bool useCredits) {
  UseCredits = useCredits;
  SetupWindow();
  CentreOnOwner(window_);
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
}

void AboutWindow::SetupWindow() {
  SetDlgItemTextW(window_, kStatAppName, Wide(kAboutName).c_str());
  SetDlgItemTextW(window_, kStatAppVersion, Wide(AboutVersionText()).c_str());
  SetDlgItemTextW(window_, kStatAppNotice, Wide(AboutNoticeText()).c_str());
  Layout();
  if (UseCredits) FillRichField(GetDlgItem(window_, kEditAppCredits), CreditsRuns(CreditsText()), 12);
  ShowWindow(GetDlgItem(window_, kEditAppCredits), UseCredits ? SW_SHOW : SW_HIDE);
}

void AboutWindow::Layout() {
  const int dpi = DpiOf(window_);
  const int height = UseCredits ? 326 : 178;
  const SIZE outer = OuterSize(kToolStyle, WS_EX_DLGMODALFRAME, false, 284, height, dpi);
  SetWindowPos(window_, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetFont(GetDlgItem(window_, kStatAppName), fonts_[0], MessageFont(dpi, true, 14));
  SetFont(GetDlgItem(window_, kStatAppVersion), fonts_[1], MessageFont(dpi, false, 10));
  SetFont(GetDlgItem(window_, kStatAppNotice), fonts_[2], MessageFont(dpi, false, 9));
  SetFont(GetDlgItem(window_, kEditAppCredits), fonts_[3], MessageFont(dpi));
  // Heights with room for the text at any DPI: the laid-out ones assume small print.
  Place(GetDlgItem(window_, kStatAppName), {20, 80, 244, 26}, dpi);
  Place(GetDlgItem(window_, kStatAppVersion), {20, 108, 244, 18}, dpi);
  Place(GetDlgItem(window_, kEditAppCredits), {0, 132, 284, 140}, dpi);
  Place(GetDlgItem(window_, kStatAppNotice), {20, UseCredits ? 280 : 132, 244, 42}, dpi);
  InvalidateRect(window_, nullptr, TRUE);
}

// --- Help -----------------------------------------------------------------------------------

HelpWindow::HelpWindow(HWND owner) {
  RegisterOtherClasses();
  constexpr DWORD style = WS_OVERLAPPEDWINDOW & ~WS_MAXIMIZEBOX;
  const int dpi = DpiOf(owner);
  const SIZE outer = OuterSize(style, 0, false, 520, 460, dpi);
  window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kHelpClass, L"", style, CW_USEDEFAULT, CW_USEDEFAULT,
                            outer.cx, outer.cy, owner, nullptr, Instance(), nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  RichField(window_, kHelpText, WS_VSCROLL | WS_BORDER);
  Child(window_, L"BUTTON", L"Close", BS_PUSHBUTTON | WS_TABSTOP, kHelpClose, {0, 0, 0, 0}, 96, nullptr);
  Layout();
}

HelpWindow::~HelpWindow() {
  if (IsWindow(window_)) DestroyWindow(window_);
  if (font_) DeleteObject(static_cast<HFONT>(font_));
}

void HelpWindow::ShowText(const std::string& title, const std::string& markdown) {
  SetWindowTextW(window_, Wide(title).c_str());
  FillRichField(GetDlgItem(window_, kHelpText), MarkdownRuns(markdown), 10);
  if (!IsWindowVisible(window_)) CentreOnOwner(window_);
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
}

void HelpWindow::Layout() {
  const int dpi = DpiOf(window_);
  RECT client;
  GetClientRect(window_, &client);
  const int margin = Scaled(9, dpi), buttonW = Scaled(80, dpi), buttonH = Scaled(24, dpi);
  HWND close = GetDlgItem(window_, kHelpClose);
  HWND text = GetDlgItem(window_, kHelpText);
  HFONT font = MessageFont(dpi);
  SendMessageW(close, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  if (font_) DeleteObject(static_cast<HFONT>(font_));
  font_ = font;
  SetWindowPos(text, nullptr, margin, margin, client.right - 2 * margin, client.bottom - 3 * margin - buttonH,
               SWP_NOZORDER);
  SetWindowPos(close, nullptr, client.right - margin - buttonW, client.bottom - margin - buttonH, buttonW,
               buttonH, SWP_NOZORDER);
}

// --- The parameter list ---------------------------------------------------------------------

HWND ShowParamList(HWND owner, const dParamList::ParamSet& params) {
  RegisterOtherClasses();
  const int dpi = DpiOf(owner);
  const SIZE outer = OuterSize(kToolStyle, WS_EX_DLGMODALFRAME, false, 422, 295, dpi);
  HWND w = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kParamListClass,
                           Wide(ParamListTitle(params)).c_str(), kToolStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                           outer.cx, outer.cy, owner, nullptr, Instance(), nullptr);
  auto* state = new ParamList;
  SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
  state->font = MessageFont(dpi);

  HWND list = Child(w, WC_LISTVIEWW, L"", LVS_REPORT | LVS_NOSORTHEADER | LVS_SINGLESEL | WS_BORDER,
                    kListBox1, {20, 27, 382, 211}, dpi, state->font);
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  std::wstring headers[] = {L"Parameter:", L"Value:"};
  const int widths[] = {150, 382 - 150 - 24};
  for (int column = 0; column < 2; ++column) {
    LVCOLUMNW c{};
    c.mask = LVCF_TEXT | LVCF_WIDTH;
    c.pszText = headers[column].data();
    c.cx = Scaled(widths[column], dpi);
    ListView_InsertColumn(list, column, &c);
  }
  int row = 0;
  for (const ParamRow& r : ParamListRows(params)) {
    std::wstring label = Wide(r.label), value = Wide(r.value);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = label.data();
    ListView_InsertItem(list, &item);
    ListView_SetItemText(list, row, 1, value.data());
    ++row;
  }
  HWND ok = Child(w, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, kOKbutton, {322, 255, 80, 22}, dpi,
                  state->font);
  CentreOnOwner(w);
  ShowWindow(w, SW_SHOW);
  SetFocus(ok);
  return w;
}

// --- The question ---------------------------------------------------------------------------

HWND AskQuestion(HWND owner, const std::string& title, const std::string& text,
                 std::function<void(bool yes)> answered) {
  RegisterOtherClasses();
  const int dpi = DpiOf(owner);
  const SIZE outer = OuterSize(kToolStyle, WS_EX_DLGMODALFRAME, false, 300, 100, dpi);
  HWND w = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kQuestionClass, Wide(title).c_str(),
                           kToolStyle, CW_USEDEFAULT, CW_USEDEFAULT, outer.cx, outer.cy, owner, nullptr,
                           Instance(), nullptr);
  auto* q = new Question{std::move(answered), MessageFont(dpi)};
  SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(q));
  Child(w, L"STATIC", Wide(text), SS_LEFT | SS_NOPREFIX, kQuestionText, {16, 16, 268, 36}, dpi, q->font);
  Child(w, L"BUTTON", L"&Yes", BS_PUSHBUTTON | WS_TABSTOP, IDYES, {120, 64, 75, 23}, dpi, q->font);
  HWND no = Child(w, L"BUTTON", L"&No", BS_DEFPUSHBUTTON | WS_TABSTOP, IDNO, {205, 64, 75, 23}, dpi, q->font);
  CentreOnOwner(w);
  // Modal to the window, not to the run: the owner is disabled, the loop goes on.
  EnableWindow(owner, FALSE);
  ShowWindow(w, SW_SHOW);
  SetFocus(no);
  return w;
}

}  // namespace bm::win32
