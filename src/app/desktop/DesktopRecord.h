// The window's production record (`brindlemark --record DB`, or BRINDLEMARK_RECORD): each
// Download and Erase that starts on the target gets its row in the same record the command line
// keeps (docs/records.md), begun as the run starts and completed as it ends. It listens to the
// engine beside the presenter and changes nothing the window shows; a record that cannot be
// written is said on stderr.
#pragma once

#include <memory>
#include <string>

#include "records/RecordStore.h"
#include "shell/core/Engine.h"

namespace bm::app {

class DesktopRecord : public Engine::Observer {
 public:
  // `ports`: the service the engine searches, for the identity of the port a loader answered on.
  DesktopRecord(Engine& engine, SerialService& ports, std::string database);

  void OnPortTried(const PortTry& tried) override;
  void OnRunStarted(RunKind kind) override;
  void OnRunEnded(RunKind kind, const RunReport& report) override;

 private:
  Engine& engine_;
  SerialService& ports_;
  std::string database_;
  std::string port_;  // where the last search found the loader
  std::unique_ptr<records::Store> store_;
  records::Attempt row_;
  double startedSeconds_ = 0;
  Engine::Registration listening_;
};

}  // namespace bm::app
