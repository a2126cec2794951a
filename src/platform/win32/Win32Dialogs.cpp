#include "platform/win32/Win32Dialogs.h"

#include "platform/FileFilter.h"
#include "platform/win32/Text.h"

// After our headers: <windows.h> defines MessageBox as a macro.
// clang-format off
#include <windows.h>
#include <commdlg.h>
#undef MessageBox  // it would rename our Win32Dialogs::MessageBox
// clang-format on

namespace bm::win32 {

void Win32Dialogs::MessageBox(const std::string& text) {
  MessageBoxW(owner_, Wide(text).c_str(), Wide(title_).c_str(), MB_OK);
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
    text += Wide(name);
    text.push_back(L'\0');
    text += Wide(patterns);
    text.push_back(L'\0');
  }
  text.push_back(L'\0');
  return text;
}

std::optional<std::string> Win32Dialogs::OpenFile(const std::vector<FileKind>& kinds) {
  const std::wstring filter = FilterText(kinds);
  const std::wstring folder = Wide(startFolder_);
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
  return Utf8(file);
}

}  // namespace bm::win32
