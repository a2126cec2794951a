// brindlemark-cli load: the Load button without a window. The file named on the command line is
// what the file-open dialog answers; everything else is the same handler the window runs.
//
// A load touches no port and waits for nothing, so it needs no Qt application object: main.cpp
// runs it before creating one.
#include <chrono>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/cli/CliDialogs.h"
#include "app/cli/Commands.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/FileCheck.h"
#include "base/RuntimeExceptionPlus.h"
#include "platform/PortList.h"
#include "shell/core/HeadlessDisplay.h"
#include "shell/core/Main.h"

namespace bm::cli {
namespace {

// A load yields between lines and never waits for a reply: there is nothing to turn.
class LoadOnlyLoop : public EventLoop {
 public:
  void processEvents(int maxWaitMs) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(maxWaitMs));
  }
  void yield() override {}
};

struct LoadSession {
  LoadOnlyLoop loop;
  PortList ports;  // none: a load never touches a port
  HeadlessDisplay display;
  CliDialogs dialogs;
  Main main{display, dialogs, loop, ports};
  std::exception_ptr error;  // an error that reached the unhandled-error hook
};

// The first `count` bytes of `buffer` (none when count <= 0, at most the whole buffer).
bool WriteImage(const std::string& path, const std::vector<uint8_t>& buffer, int32_t count) {
  const size_t n = count <= 0 ? 0 : std::min(buffer.size(), static_cast<size_t>(count));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(n));
  out.close();
  if (!out) std::cerr << "load: cannot write '" << path << "'\n";
  return static_cast<bool>(out);
}

nlohmann::ordered_json Report(const LoadSession& session) {
  const Main& m = session.main;
  const HeadlessDisplay& d = session.display;
  nlohmann::ordered_json j;
  j["title"] = d.title;
  j["file"] = d.Text(Caption::FNameCapt);
  j["flashSize"] = d.Text(Caption::FlashSizeCapt);
  j["eepromSize"] = d.Text(Caption::EEpSizeCapt);
  j["deviceId"] = d.Text(Caption::SourceDevIDcapt);
  j["cpuName"] = d.Text(Caption::CPUnameCapt);
  j["mode"] = m.ModeNumber();
  j["flashBytes"] = m.State().FBytesRead;
  j["eepromBytes"] = m.State().EBytesRead;
  j["orgId"] = m.State().OrgID;
  j["orgBootId"] = m.State().OrgBootID;
  j["orgEepEnd"] = m.State().OrgEEpEnd;
  j["baud"] = m.BaudRate();
  j["progFlash"] = d.CheckValue(Check::ProgFlashChk);
  j["progEeprom"] = d.CheckValue(Check::ProgEEpChk);
  j["paramEnabled"] = m.EnableMenuItems();
  nlohmann::ordered_json messages = nlohmann::ordered_json::array();
  for (const std::string& text : session.dialogs.messages) messages.push_back(NormalizeLineBreaks(text));
  // What the window says in its status line rather than in a box.
  for (const Diagnostic& d : m.LastLoad().diagnostics)
    if (d.code == DiagnosticCode::Encrypted) messages.push_back(d.text);
  j["messages"] = messages;
  if (session.error) {
    j["error"] = {{"what", RuntimeExceptionPlus::Message(session.error)},
                  {"trail", RuntimeExceptionPlus::Locations(session.error)}};
  } else {
    j["error"] = nullptr;
  }
  return j;
}

void PrintReadable(const nlohmann::ordered_json& j) {
  for (const char* key : {"title", "file", "flashSize", "eepromSize", "deviceId", "cpuName"})
    std::cout << key << ": " << j[key].get<std::string>() << '\n';
  for (const char* key : {"mode", "flashBytes", "eepromBytes", "orgId", "orgBootId", "orgEepEnd", "baud"})
    std::cout << key << ": " << j[key].get<int>() << '\n';
  for (const char* key : {"progFlash", "progEeprom", "paramEnabled"})
    std::cout << key << ": " << (j[key].get<bool>() ? "true" : "false") << '\n';
  if (!j["error"].is_null()) {
    std::cout << "error: " << j["error"]["what"].get<std::string>() << '\n';
    for (const auto& location : j["error"]["trail"])
      std::cout << "  at " << location.get<std::string>() << '\n';
  }
}

}  // namespace

int Load(const CommandLine& options) {
  LoadSession session;
  // Said before the documented load runs, which would only call it "not a text file".
  if (const std::optional<std::string> why = WhyNotLoadable(options.file)) {
    const std::string text = "load: cannot load '" + options.file + "': " + *why;
    std::cerr << text << '\n';
    if (options.json) {
      nlohmann::ordered_json report = Report(session);
      report["messages"] = nlohmann::ordered_json::array({text});
      std::cout << report.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    }
    return kExitNotLoaded;
  }
  session.main.SetUnhandledException([&session](std::exception_ptr e) { session.error = e; });
  session.dialogs.file = options.file;
  session.dialogs.echo = !options.json;  // readable form: messages on stderr as they come
  session.main.Handle([&] { session.main.FOpenBtn_Action(); });
  // What the window shows in its status line rather than in a box (boxes were echoed already).
  if (!options.json) {
    for (const Diagnostic& d : session.main.LastLoad().diagnostics)
      if (d.code == DiagnosticCode::Encrypted) std::cerr << d.text << '\n';
  }

  const nlohmann::ordered_json report = Report(session);
  if (options.json)
    std::cout << report.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
  else
    PrintReadable(report);

  const Main& m = session.main;
  bool written = true;
  if (options.flashOut) written &= WriteImage(*options.flashOut, m.State().FlashArr, m.State().FBytesRead);
  if (options.eepromOut) written &= WriteImage(*options.eepromOut, m.State().EEpromArr, m.State().EBytesRead);
  return (m.LastLoad().loaded && !session.error && written) ? kExitDone : kExitNotLoaded;
}

}  // namespace bm::cli
