#include "shell/core/Engine.h"

#include <utility>

namespace bm {

BaudChoice ChooseBaudRate(const BaudSources& sources, std::optional<int> projectRate) {
  if (sources.option) return {*sources.option, true};
  if (projectRate) return {*projectRate, false};
  if (sources.environment) return {*sources.environment, true};
  return {WIRE_DEFAULT_BAUD, false};
}

Engine::Engine(EventLoop& loop_, SerialService& ports) : loop(loop_), ComPort(ports) {}

Engine::Registration Engine::Listen(Observer& observer) {
  observers_->push_back(&observer);
  return Registration(observers_, observer);
}

Engine::Registration& Engine::Registration::operator=(Registration&& other) noexcept {
  if (this != &other) {
    Registration gone(std::move(*this));
    list_ = std::move(other.list_);
    observer_ = std::exchange(other.observer_, nullptr);
  }
  return *this;
}

Engine::Registration::~Registration() {
  const std::shared_ptr<List> list = list_.lock();
  if (list) list->erase(std::remove(list->begin(), list->end(), observer_), list->end());
}

void Engine::TraceWire(bool on) {
  if (!on) {
    ComPort.SetTrace({});
    return;
  }
  ComPort.SetTrace([this](bool toTarget, std::string_view bytes) {
    LogLine line;
    line.kind = LogLine::Kind::Trace;
    line.toTarget = toTarget;
    line.bytes = std::string(bytes);
    Tell([&line](Observer& o) { o.OnLog(line); });
  });
}

void Engine::TellFindings(const Diagnostics& found, size_t& told) {
  for (; told < found.size(); ++told) {
    LogLine line;
    line.finding = found[told];
    Tell([&line](Observer& o) { o.OnLog(line); });
  }
}

bool Engine::UsableBaudRate(int baud) { return baud > 0 && ComPort.Service().UsableBaudRate(baud); }

void Engine::Stop() {
  if (running_) bootloader.Interrupt(Interruption::Stop);
  // During a page's data the farewell waits for the page's last byte (Bootloader::Stop).
  if (g.COMok) bootloader.Stop();
  g.COMok = false;
}

void Engine::release() {
  if (g.COMok) bootloader.Leave();
  g.COMok = false;
}

void Engine::Quit() {
  quitRequested_ = true;
  // Never "X" on the way out: the port is simply closed, so a running sequence fails its next
  // reply check and unwinds.
  bootloader.Interrupt(Interruption::Quit);
  ComPort.Close();
  g.COMok = false;
}

bool Engine::ConnectionLost() {
  if (running_ || !g.COMok) return false;
  ComPort.BytesAvailable();  // a device that hung up reads as closed from then on
  if (ComPort.IsOpen()) return false;
  ComPort.Close();
  g.COMok = false;
  return true;
}

}  // namespace bm
