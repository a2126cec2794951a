// brindlemark-cli load: the engine's load of the file named on the command line, reported with the
// face the window would show of it (the same function gives both).
//
// A load touches no port and waits for nothing, so it needs no Qt application object: main.cpp
// runs it before creating one.
#include <chrono>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/cli/Commands.h"
#include "app/cli/ExitCodes.h"
#include "app/cli/FileCheck.h"
#include "app/cli/LineBreaks.h"
#include "base/FileOpen.h"
#include "base/RuntimeExceptionPlus.h"
#include "platform/PortList.h"
#include "shell/core/Engine.h"
#include "shell/core/LoadFace.h"

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
  Engine engine{loop, ports};
  std::optional<LoadResult> load;  // none before the load ran, or when it ended in an error
  Diagnostics found;               // what the load found, as it told it (also before an error)
  std::exception_ptr error;        // an error inside a reader
};

// Keeps each finding as the load tells it.
class Findings : public Engine::Observer {
 public:
  explicit Findings(Diagnostics& found) : found_(found) {}
  void OnLog(const LogLine& line) override {
    if (line.kind == LogLine::Kind::Finding) found_.push_back(line.finding);
  }

 private:
  Diagnostics& found_;
};

// The first `count` bytes of `buffer` (none when count <= 0, at most the whole buffer).
bool WriteImage(const std::string& path, const std::vector<uint8_t>& buffer, int32_t count) {
  const size_t n = count <= 0 ? 0 : std::min(buffer.size(), static_cast<size_t>(count));
  std::ofstream out(PathFromName(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(n));
  out.close();
  if (!out) std::cerr << "load: cannot write '" << path << "'\n";
  return static_cast<bool>(out);
}

nlohmann::ordered_json Report(const LoadSession& session) {
  const LoadResult load = session.load.value_or(LoadResult{});
  const LoadFace face = session.load ? FaceOfLoad(load) : LoadFace{};
  nlohmann::ordered_json j;
  j["title"] = face.title;
  j["file"] = face.file;
  j["flashSize"] = face.flashSize;
  j["eepromSize"] = face.eepromSize;
  j["deviceId"] = face.deviceId;
  j["cpuName"] = face.cpuName;
  j["mode"] = Number(face.mode);
  j["flashBytes"] = load.flashBytes;
  j["eepromBytes"] = load.eepromBytes;
  j["orgId"] = load.expected.OrgID;
  j["orgBootId"] = load.expected.OrgBootID;
  j["orgEepEnd"] = load.expected.OrgEEpEnd;
  j["baud"] = session.load ? load.baud : session.engine.BaudRate();
  j["progFlash"] = face.progFlash;
  j["progEeprom"] = face.progEeprom;
  j["paramEnabled"] = load.hasParameters;
  nlohmann::ordered_json messages = nlohmann::ordered_json::array();
  // The window shows each finding in a box, in order, but an encrypted file's in its status line.
  for (const Diagnostic& d : session.found)
    if (d.code != DiagnosticCode::Encrypted) messages.push_back(NormalizeLineBreaks(d.text));
  for (const Diagnostic& d : session.found)
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
      report["error"] = {{"what", text}, {"trail", nlohmann::ordered_json::array()}};
      std::cout << report.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    }
    return kExitNotLoaded;
  }
  {
    Findings findings(session.found);
    const Engine::Registration listening = session.engine.Listen(findings);
    try {
      session.load = session.engine.Load(options.file);
    } catch (...) {
      session.error = std::current_exception();
    }
  }
  // Readable form: the messages on stderr, in the order the window shows them.
  if (!options.json) {
    for (const Diagnostic& d : session.found)
      if (d.code != DiagnosticCode::Encrypted) std::cerr << NormalizeLineBreaks(d.text) << '\n';
    for (const Diagnostic& d : session.found)
      if (d.code == DiagnosticCode::Encrypted) std::cerr << d.text << '\n';
  }

  const ImageBuffers& images = session.engine.Images();
  const LoadResult load = session.load.value_or(LoadResult{});
  const bool loaded = session.load && session.load->loaded && !session.error;
  std::vector<std::string> unwritten;
  if (options.flashOut && !WriteImage(*options.flashOut, images.FlashArr, load.flashBytes))
    unwritten.push_back(*options.flashOut);
  if (options.eepromOut && !WriteImage(*options.eepromOut, images.EEpromArr, load.eepromBytes))
    unwritten.push_back(*options.eepromOut);

  nlohmann::ordered_json report = Report(session);
  // A load that failed says so in "error", also when no reader raised one: a script reads one key.
  if (report["error"].is_null() && !loaded)
    report["error"] = {{"what", "nothing was loaded from '" + options.file + "'"},
                       {"trail", nlohmann::ordered_json::array()}};
  if (report["error"].is_null() && !unwritten.empty())
    report["error"] = {{"what", "cannot write '" + unwritten.front() + "'"},
                       {"trail", nlohmann::ordered_json::array()}};
  if (options.json)
    std::cout << report.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
  else
    PrintReadable(report);
  return loaded && unwritten.empty() ? kExitDone : kExitNotLoaded;
}

}  // namespace bm::cli
