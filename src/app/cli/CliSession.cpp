#include "app/cli/CliSession.h"

namespace bm::cli {

CliSession::CliSession(const app::PortOptions& options)
    : ports(app::MakePorts(options)), ownedDisplay(std::make_unique<HeadlessDisplay>()) {
  display = ownedDisplay.get();
  main = std::make_unique<Main>(*display, dialogs, loop, *ports.list);
  main->SetUnhandledException([this](std::exception_ptr e) { error = e; });
}

void CliSession::SetDisplay(std::unique_ptr<HeadlessDisplay> replacement) {
  ownedDisplay = std::move(replacement);
  display = ownedDisplay.get();
  main = std::make_unique<Main>(*display, dialogs, loop, *ports.list);
  main->SetUnhandledException([this](std::exception_ptr e) { error = e; });
}

}  // namespace bm::cli
