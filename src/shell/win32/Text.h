// Text between the logic's byte strings and the W calls of the Win32 window: UTF-8 and UTF-16
// (Wide, Utf8: platform/win32/Text.h), captions and line ends.
#pragma once

#include <string>

#include "platform/win32/Text.h"

namespace bm::win32 {

// What a label shows for a caption the logic sets: each "&&" as one "&", taken left to right
// ("&&&" shows "&&"); a single "&" as it is. The labels draw no mnemonics (SS_NOPREFIX).
std::string CaptionText(const std::string& text);

// "\n" as "\r\n", as an edit control and a message box want their lines.
std::wstring WithCrLf(const std::wstring& text);

}  // namespace bm::win32
