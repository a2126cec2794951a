// Text between the logic's byte strings and the W calls of the Win32 window.
//
// Names and texts are UTF-8; a pack written on another system may carry Latin-1 bytes, which
// are shown as Latin-1 rather than as replacement characters (as the Qt window does).
#pragma once

#include <string>

namespace bm::win32 {

std::wstring ToWide(const std::string& text);
std::string FromWide(const std::wstring& text);

// What a label shows for a caption the logic sets: each "&&" as one "&", taken left to right
// ("&&&" shows "&&"); a single "&" as it is. The labels draw no mnemonics (SS_NOPREFIX).
std::string CaptionText(const std::string& text);

// "\n" as "\r\n", as an edit control and a message box want their lines.
std::wstring WithCrLf(const std::wstring& text);

}  // namespace bm::win32
