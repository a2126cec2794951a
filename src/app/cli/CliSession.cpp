#include "app/cli/CliSession.h"

#include <iostream>

namespace bm::cli {

std::string NormalizeLineBreaks(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

void CliDialogs::MessageBox(const std::string& text) {
  messages.push_back(text);
  if (echo) std::cerr << NormalizeLineBreaks(text) << '\n';
  if (onMessage) onMessage(text);
}

CliSession::CliSession(const app::PortOptions& options)
    : ports(app::MakePorts(options)), ownedDisplay(std::make_unique<HeadlessDisplay>()) {
  display = ownedDisplay.get();
  main = std::make_unique<Main>(*display, dialogs, loop, *ports.list);
  main->UnhandledException = [this](std::exception_ptr e) { error = e; };
}

void CliSession::SetDisplay(std::unique_ptr<HeadlessDisplay> replacement) {
  ownedDisplay = std::move(replacement);
  display = ownedDisplay.get();
  main = std::make_unique<Main>(*display, dialogs, loop, *ports.list);
  main->UnhandledException = [this](std::exception_ptr e) { error = e; };
}

}  // namespace bm::cli
