// What the Win32 windows share: the monitor's DPI and the system's message font at that DPI,
// child controls placed in 96-dpi units, the lamps, tooltips and rich edit fields filled with
// styled runs. Includes <windows.h>: for the .cpp files of this folder only.
#pragma once

// The system's headers, in the order they need, each macro that would rename one of our
// functions (Dialogs::MessageBox, Bootloader::Yield) taken back at once.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>
#undef MessageBox
#undef Yield
// clang-format on

#include <cstdint>
#include <string>
#include <vector>

#include "shell/core/StyledText.h"

namespace bm::win32 {

// The DPI of the monitor the window is on (96 where the system cannot say).
int DpiOf(HWND window);
// `px` at 96 dpi, at `dpi`.
inline int Scaled(int px, int dpi) { return MulDiv(px, dpi, 96); }

// The system's message font at `dpi`; bold, or in `points` (0: its own size). The caller
// deletes it.
HFONT MessageFont(int dpi, bool bold = false, double points = 0);
// A window's outer size for a client area of `width` × `height` at 96 dpi, at `dpi`.
SIZE OuterSize(DWORD style, DWORD exStyle, bool menu, int width, int height, int dpi);

// A child control with id `id`, at its place in 96-dpi units scaled to `dpi`.
HWND Child(HWND parent, const wchar_t* windowClass, const std::wstring& text, DWORD style, int id, RECT place,
           int dpi, HFONT font);
// Moves a child to its place in 96-dpi units at `dpi`.
void Place(HWND child, RECT place, int dpi);

// The lamps: an oval with a black border, filled with a colour (0xRRGGBB) the window keeps in
// GWLP_USERDATA, where the UI automation can read it back.
void RegisterLampClass();
inline constexpr const wchar_t* kLampClass = L"BrindlemarkLamp";
void SetLampColour(HWND lamp, uint32_t rgb);
uint32_t LampColour(HWND lamp);

// A tooltip window for `owner`'s controls; tips are added and changed by control.
HWND MakeToolTips(HWND owner);
void SetTip(HWND tips, HWND control, const std::string& text);

// A read-only rich edit field, and its text from styled runs at `basePoints` for runs of the
// field's own size.
HWND RichField(HWND parent, int id, DWORD extraStyle);
void FillRichField(HWND field, const std::vector<StyledRun>& runs, double basePoints);

// The program's icon resource (its id in the resource script).
inline constexpr int kAppIconId = 1;
HICON AppIcon(int size);

}  // namespace bm::win32
