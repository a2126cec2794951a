// brindlemark-cli ports: the serial ports the tool would search, read-only; with --probe each
// port is opened and asked "?" (closed again without "X"), and the answer or the reason it gave
// none is shown.
#include <iostream>

#include "app/cli/CliSession.h"
#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "shell/core/SkipReason.h"

namespace bm::cli {

int Ports(const CommandLine& line) {
  EventLog log(std::cout, line.json);
  CliSession session(line.ports);
  Engine& engine = session.engine;
  engine.SetReplyWindow(line.replyTimeoutMs);
  const int count = session.ports.list->Count();
  if (line.probe) std::cerr << "Opening a port may reset the board behind it (many boards reset on DTR).\n";
  for (int i = 0; i < count; ++i) {
    const std::string name = session.ports.list->PortName(i);
    const std::string description = session.ports.list->Description(i);
    const PortIdentity id = session.ports.list->Identity(i);
    auto orNull = [](const std::string& text) {
      return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(text);
    };
    nlohmann::ordered_json fields{{"port", name},
                                  {"index", i},
                                  {"description", description},
                                  {"stableName", orNull(id.stableName)},
                                  {"usbId", orNull(id.usbId)},
                                  {"serialNumber", orNull(id.serialNumber)}};
    std::string identity;
    if (!id.usbId.empty()) identity += "\tUSB " + id.usbId;
    if (!id.serialNumber.empty()) identity += "\tserial " + id.serialNumber;
    if (!id.stableName.empty()) identity += "\t" + id.stableName;
    std::string probe;
    if (line.probe) {
      const PortTry tried = engine.Probe(i);
      fields["status"] = tried.status == PortTry::Status::Found ? "found" : "skipped";
      probe = tried.status == PortTry::Status::Found ? "a loader answers" : SkipReason(tried);
      if (tried.status == PortTry::Status::Skipped) {
        fields["reason"] = probe;
        fields["reasonCode"] = SkipReasonCode(tried);
      }
    }
    if (line.json)
      log.Emit("port", fields);
    else
      std::cout << i << '\t' << name << '\t' << description << identity << (probe.empty() ? "" : "\t" + probe)
                << '\n';
  }
  if (count == 0) std::cerr << "No serial ports found.\n";
  return kExitDone;
}

}  // namespace bm::cli
