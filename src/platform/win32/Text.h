// Text as Windows takes it: the programs hold names and messages as UTF-8, the system's wide
// calls take UTF-16. No Windows header here: the floors' headers must never see <windows.h>.
#pragma once

#include <string>

namespace bm::win32 {

// UTF-8 to UTF-16 and back. Bytes that are no UTF-8 are taken as Latin-1, one character a byte:
// a pack written on another system may carry them, and the window shows them as the Qt one does.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
// The system's words for an error code (GetLastError), one line, without the trailing period
// and line end; "error N" when it has none.
std::string SystemMessage(unsigned long code);

}  // namespace bm::win32
