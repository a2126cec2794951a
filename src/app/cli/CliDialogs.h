// The dialogs of the command-line tool: message boxes are captured in order (and echoed on stderr
// when asked); the file-open dialog answers with the file named on the command line.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace bm::cli {

class CliDialogs : public Dialogs {
 public:
  void MessageBox(const std::string& text) override;
  std::optional<std::string> OpenFile(const std::vector<FileKind>&) override { return file; }

  std::vector<std::string> messages;
  std::optional<std::string> file;
  bool echo = false;
  std::function<void(const std::string&)> onMessage;  // told of each message as it is shown
};

// Every CR, LF or CRLF inside a text as one "\n".
std::string NormalizeLineBreaks(const std::string& text);

}  // namespace bm::cli
