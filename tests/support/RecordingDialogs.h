// Dialogs for tests: every message box text is kept in order; the file-open dialog answers with
// the scripted path (or cancels), and records the kinds it was shown.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace bm::test {

class RecordingDialogs : public Dialogs {
 public:
  void MessageBox(const std::string& text) override {
    messages.push_back(text);
    if (onMessage) onMessage(text);
  }
  void MessageBoxWithInfo(const std::string& text, const std::string& information) override {
    infos.push_back(information);
    MessageBox(text);
  }
  std::optional<std::string> OpenFile(const std::vector<FileKind>& kinds) override {
    shownKinds = kinds;
    shownFolder = startFolder;
    ++openCount;
    return answer;
  }
  void SetStartFolder(const std::string& folder) override { startFolder = folder; }

  std::vector<std::string> messages;
  std::vector<std::string> infos;                     // the information under each box that had one
  std::function<void(const std::string&)> onMessage;  // runs inside the modal box
  std::optional<std::string> answer;
  std::vector<FileKind> shownKinds;
  std::string startFolder, shownFolder;  // the folder set last, and the one the last dialog opened in
  int openCount = 0;
};

}  // namespace bm::test
