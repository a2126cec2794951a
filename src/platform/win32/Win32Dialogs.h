// Message boxes and the file-open dialog of the Win32 window: MessageBoxW, and
// GetOpenFileNameW filtered by the file kinds. Names come back as the program holds them,
// UTF-8 (base/FileOpen.h).
#pragma once

#include <string>
#include <vector>

#include "platform/Dialogs.h"

struct HWND__;

namespace bm::win32 {

class Win32Dialogs : public Dialogs {
 public:
  // The window the dialogs belong to (they are modal to it); null: none.
  void SetOwner(HWND__* owner) { owner_ = owner; }
  // The boxes' title; the program's name.
  void SetTitle(const std::string& title) { title_ = title; }

  void MessageBox(const std::string& text) override;
  // A message box has no room for smaller print: the information goes under the text, after
  // an empty line.
  void MessageBoxWithInfo(const std::string& text, const std::string& information) override;
  std::optional<std::string> OpenFile(const std::vector<FileKind>& kinds) override;
  void SetStartFolder(const std::string& folder) override { startFolder_ = folder; }

  // The dialog's filter as pairs of a name and its patterns, all supported kinds first, one a
  // kind in plain words, then every file: {"All supported files (*.hex;*.eep)", "*.hex;*.eep"},
  // {"Intel HEX flash image (*.hex)", "*.hex"}, ..., {"All files (*.*)", "*.*"}.
  static std::vector<std::pair<std::string, std::string>> Filter(const std::vector<FileKind>& kinds);
  // The same as the API takes it: UTF-16, each string closed by a NUL, the list by another.
  static std::wstring FilterText(const std::vector<FileKind>& kinds);

 private:
  HWND__* owner_ = nullptr;
  std::string title_ = "Brindlemark";
  std::string startFolder_;  // empty: the dialog's own choice
};

}  // namespace bm::win32
