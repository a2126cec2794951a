#include "shell/win32/Ui.h"

#include <algorithm>

#include "shell/win32/Text.h"

namespace bm::win32 {
namespace {

// Newer calls, looked up at run time: a system without them gets the 96-dpi answers.
template <typename F>
F Lookup(const wchar_t* module, const char* name) {
  HMODULE m = GetModuleHandleW(module);
  return m ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

LRESULT CALLBACK LampProc(HWND lamp, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(lamp, &ps);
      RECT r;
      GetClientRect(lamp, &r);
      FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
      const uint32_t rgb = LampColour(lamp);
      HBRUSH fill = CreateSolidBrush(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
      HPEN border = CreatePen(PS_SOLID, std::max(1, Scaled(1, DpiOf(lamp))), RGB(0, 0, 0));
      HGDIOBJ oldBrush = SelectObject(dc, fill);
      HGDIOBJ oldPen = SelectObject(dc, border);
      Ellipse(dc, r.left, r.top, r.right, r.bottom);
      SelectObject(dc, oldBrush);
      SelectObject(dc, oldPen);
      DeleteObject(fill);
      DeleteObject(border);
      EndPaint(lamp, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
  }
  return DefWindowProcW(lamp, message, wParam, lParam);
}

}  // namespace

int DpiOf(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpi = Lookup<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
  if (getDpi && window) {
    const UINT dpi = getDpi(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

HFONT MessageFont(int dpi, bool bold, double points) {
  using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
  static const auto forDpi = Lookup<ForDpiFn>(L"user32.dll", "SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  LOGFONTW font{};
  if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, static_cast<UINT>(dpi))) {
    font = metrics.lfMessageFont;
  } else if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    // At the system's DPI: brought to the window's.
    font = metrics.lfMessageFont;
    font.lfHeight = MulDiv(font.lfHeight, dpi, DpiOf(nullptr));
  } else {
    font.lfHeight = -MulDiv(9, dpi, 72);
    lstrcpyW(font.lfFaceName, L"Segoe UI");
  }
  if (points > 0) font.lfHeight = -MulDiv(static_cast<int>(points * 10 + 0.5), dpi, 720);
  if (bold) font.lfWeight = FW_BOLD;
  return CreateFontIndirectW(&font);
}

SIZE OuterSize(DWORD style, DWORD exStyle, bool menu, int width, int height, int dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjust = Lookup<AdjustForDpiFn>(L"user32.dll", "AdjustWindowRectExForDpi");
  RECT r{0, 0, Scaled(width, dpi), Scaled(height, dpi)};
  if (!adjust || !adjust(&r, style, menu, exStyle, static_cast<UINT>(dpi)))
    AdjustWindowRectEx(&r, style, menu, exStyle);
  return {r.right - r.left, r.bottom - r.top};
}

HWND Child(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style, int id, RECT place,
           int dpi, HFONT font) {
  HWND child =
      CreateWindowExW(0, windowClass, text.c_str(), WS_CHILD | WS_VISIBLE | style, Scaled(place.left, dpi),
                      Scaled(place.top, dpi), Scaled(place.right, dpi), Scaled(place.bottom, dpi), parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (child && font) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

void Place(HWND child, RECT place, int dpi) {
  SetWindowPos(child, nullptr, Scaled(place.left, dpi), Scaled(place.top, dpi), Scaled(place.right, dpi),
               Scaled(place.bottom, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

void RegisterLampClass() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (GetClassInfoExW(GetModuleHandleW(nullptr), kLampClass, &wc)) return;
  wc.lpfnWndProc = LampProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kLampClass;
  RegisterClassExW(&wc);
}

void SetLampColour(HWND lamp, uint32_t rgb) {
  if (LampColour(lamp) == rgb) return;
  SetWindowLongPtrW(lamp, GWLP_USERDATA, static_cast<LONG_PTR>(rgb));
  InvalidateRect(lamp, nullptr, FALSE);
}

uint32_t LampColour(HWND lamp) { return static_cast<uint32_t>(GetWindowLongPtrW(lamp, GWLP_USERDATA)); }

HWND MakeToolTips(HWND owner) {
  HWND tips = CreateWindowExW(
      WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
      CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (tips) SendMessageW(tips, TTM_SETMAXTIPWIDTH, 0, Scaled(360, DpiOf(owner)));
  return tips;
}

void SetTip(HWND tips, HWND control, const std::string& text) {
  if (!tips || !control) return;
  std::wstring wide = Wide(text);
  TTTOOLINFOW info{};
  info.cbSize = sizeof info;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = GetParent(control);
  info.uId = reinterpret_cast<UINT_PTR>(control);
  info.lpszText = wide.data();
  TTTOOLINFOW known = info;
  known.lpszText = nullptr;
  // Added the first time, changed after: adding twice would keep two tools.
  const bool added = SendMessageW(tips, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&known)) != 0;
  SendMessageW(tips, added ? TTM_UPDATETIPTEXTW : TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

HWND RichField(HWND parent, int id, DWORD extraStyle) {
  static const bool loaded = LoadLibraryW(L"Msftedit.dll") != nullptr;
  const wchar_t* richClass = loaded ? MSFTEDIT_CLASS : L"RichEdit20W";
  if (!loaded) LoadLibraryW(L"Riched20.dll");
  HWND field = CreateWindowExW(
      0, richClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_READONLY | extraStyle, 0, 0,
      10, 10, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  return field;
}

void FillRichField(HWND field, const std::vector<StyledRun>& runs, double basePoints) {
  SendMessageW(field, WM_SETREDRAW, FALSE, 0);
  SetWindowTextW(field, L"");
  for (const StyledRun& run : runs) {
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_BOLD | CFM_ITALIC | CFM_SIZE;
    format.dwEffects = (run.bold ? CFE_BOLD : 0) | (run.italic ? CFE_ITALIC : 0);
    format.yHeight = static_cast<LONG>((run.points > 0 ? run.points : basePoints) * 20);
    SendMessageW(field, EM_SETSEL, 0x7FFFFFFF, 0x7FFFFFFF);  // the end
    SendMessageW(field, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    std::wstring text = Wide(run.text);
    for (wchar_t& c : text)
      if (c == L'\n') c = L'\r';  // a rich edit's paragraph mark
    SendMessageW(field, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  }
  SendMessageW(field, EM_SETSEL, 0, 0);
  SendMessageW(field, WM_VSCROLL, SB_TOP, 0);
  SendMessageW(field, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(field, nullptr, TRUE);
}

HICON AppIcon(int size) {
  return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kAppIconId), IMAGE_ICON,
                                       size, size, LR_DEFAULTCOLOR));
}

}  // namespace bm::win32
