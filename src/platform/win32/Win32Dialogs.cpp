#include "platform/win32/Win32Dialogs.h"

#include "platform/FileFilter.h"

// After our headers: <windows.h> defines MessageBox as a macro.
// clang-format off
#include <windows.h>
#include <commdlg.h>
#undef MessageBox  // it would rename our Win32Dialogs::MessageBox
// clang-format on

namespace bm::win32 {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n > 0) {
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
    return wide;
  }
  // Not UTF-8: Latin-1, one character a byte.
  std::wstring wide;
  wide.reserve(text.size());
  for (unsigned char c : text) wide.push_back(static_cast<wchar_t>(c));
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(std::max(n, 0)), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), n, nullptr, nullptr);
  return narrow;
}

void Win32Dialogs::MessageBox(const std::string& text) {
  MessageBoxW(owner_, Widen(text).c_str(), Widen(title_).c_str(), MB_OK);
}

void Win32Dialogs::MessageBoxWithInfo(const std::string& text, const std::string& information) {
  MessageBox(information.empty() ? text : text + "\n\n" + information);
}

std::vector<std::pair<std::string, std::string>> Win32Dialogs::Filter(const std::vector<FileKind>& kinds) {
  return FileFilter(kinds, ';', "*.*");
}

std::wstring Win32Dialogs::FilterText(const std::vector<FileKind>& kinds) {
  std::wstring text;
  for (const auto& [name, patterns] : Filter(kinds)) {
    text += Widen(name);
    text.push_back(L'\0');
    text += Widen(patterns);
    text.push_back(L'\0');
  }
  text.push_back(L'\0');
  return text;
}

std::optional<std::string> Win32Dialogs::OpenFile(const std::vector<FileKind>& kinds) {
  const std::wstring filter = FilterText(kinds);
  const std::wstring folder = Widen(startFolder_);
  std::wstring file(32768, L'\0');  // room for a long path
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner_;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return std::nullopt;
  file.resize(wcslen(file.c_str()));
  return Narrow(file);
}

}  // namespace bm::win32
