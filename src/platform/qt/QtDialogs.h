// Message boxes and the file-open dialog of the desktop program.
#pragma once

#include "platform/Dialogs.h"

class QWidget;

namespace bm::qt {

class QtDialogs : public Dialogs {
 public:
  void SetParent(QWidget* parent) { parent_ = parent; }

  void MessageBox(const std::string& text) override;
  void MessageBoxWithInfo(const std::string& text, const std::string& information) override;
  std::optional<std::string> OpenFile(const std::vector<FileKind>& kinds) override;
  void SetStartFolder(const std::string& folder) override { startFolder_ = folder; }

  // The dialog's name filters for the kinds: all of them together first, then one a kind in
  // plain words, then every file, e.g. "All supported files (*.hex *.eep);;Intel HEX flash
  // image (*.hex);;Intel HEX EEPROM image (*.eep);;All files (*)".
  static std::string Filter(const std::vector<FileKind>& kinds);

 private:
  QWidget* parent_ = nullptr;
  std::string startFolder_;  // empty: the dialog's own choice
};

}  // namespace bm::qt
