// Modal dialogs the logic needs: a message box with one OK button and the file-open dialog.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bm {

// One entry of the file-open dialog's filter, e.g. {"qorm/hex", "HEX", {"hex", "HEX"}, "Intel HEX
// flash image"}.
struct FileKind {
  std::string name;
  std::string typeCode;
  std::vector<std::string> extensions;
  std::string description;  // what a dialog calls the kind, in plain words
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // Shows `text` modally and returns when the user pressed OK.
  virtual void MessageBox(const std::string& text) = 0;
  // The same box with `information` under its text, in smaller print (still one OK button). A
  // front that tells the same in its own way shows the text alone.
  virtual void MessageBoxWithInfo(const std::string& text, const std::string& /*information*/) {
    MessageBox(text);
  }
  // Shows the file-open dialog for the given kinds together; the chosen path, or none if cancelled.
  virtual std::optional<std::string> OpenFile(const std::vector<FileKind>& kinds) = 0;
  // The folder the next file-open dialog starts in: that of the file loaded last. A front without
  // a dialog has nothing to do with it.
  virtual void SetStartFolder(const std::string& /*folder*/) {}
};

}  // namespace bm
