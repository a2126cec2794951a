// The serial link: the liveness check, the port search with identification, a probe of one port.
#include "link/Bootloader.h"
#include "shell/core/Engine.h"

namespace bm {
namespace {

SearchOutcome OutcomeOf(Identification::Outcome outcome) {
  switch (outcome) {
    case Identification::Outcome::Identified:
      return SearchOutcome::Found;
    case Identification::Outcome::Incomplete:
      return SearchOutcome::Incomplete;
    case Identification::Outcome::Failed:
      return SearchOutcome::Failed;
    case Identification::Outcome::Refused:
      return SearchOutcome::Refused;
  }
  return SearchOutcome::Failed;
}

}  // namespace

void Engine::CheckComPort() {
  lastLiveness_ = bootloader.CheckAlive(connectAttempts_, WaitAfterOpen());
  switch (lastLiveness_) {
    case Liveness::Alive:
      g.COMok = true;
      break;
    case Liveness::Silent:
    case Liveness::WrongAnswer:
      g.COMok = false;
      break;
    case Liveness::NotOpened:
      break;  // the port would not open: the link flag stays as it was
  }
}

Identification Engine::GetDevice() {
  const Identification found = bootloader.Identify(g, g, alwaysAskLoaderIds_);
  if (!found.Identified()) release();
  return found;
}

PortTry Engine::Probe(int index) {
  ComPort.Select(index);
  lastLiveness_ = bootloader.CheckAlive();
  PortTry tried =
      TriedPort(lastLiveness_ == Liveness::Alive ? PortTry::Status::Found : PortTry::Status::Skipped);
  if (lastLiveness_ == Liveness::Alive) {
    // "I" right after "KW" completes the wake-up our loader waits for: without it the loader would
    // start its application when its window ends, and the probed board would be gone.
    bootloader.SendCommand(WIRE_IDENTIFY);
    bootloader.COMwait(WIRE_IDENTIFY_ECHO_BYTES + WIRE_SIGNATURE_BYTES + WIRE_PAGE_SIZE_BYTES +
                       WIRE_FLASH_SIZE_BYTES);
  }
  ComPort.Close();  // no "X": the loader keeps listening
  return tried;
}

PortTry Engine::TriedPort(PortTry::Status status, std::optional<OpenFailure> failure) {
  PortTry tried;
  tried.port = ComPort.Name();
  tried.status = status;
  if (status == PortTry::Status::Skipped) {
    tried.liveness = lastLiveness_;
    if (lastLiveness_ == Liveness::NotOpened)
      tried.openFailure = failure ? *failure : ComPort.LastOpenFailure();
    if (lastLiveness_ == Liveness::WrongAnswer) tried.answer = bootloader.LastAnswer();
  }
  return tried;
}

void Engine::TellPortTried(PortTry::Status status, std::optional<OpenFailure> failure) {
  if (observers_->empty()) return;
  const PortTry tried = TriedPort(status, failure);
  Tell([&tried](Observer& o) { o.OnPortTried(tried); });
}

SearchResult Engine::Search() {
  // Stop ends the search at its next wait, as it ends a run.
  Running running(running_);
  bootloader.Interrupt(Interruption::None);
  SearchResult result;
  result.outcome = SearchOutcome::NotFound;
  g.COMok = false;
  // A port plugged in or pulled since the last search is taken into account (a fixed list
  // leaves serial_count as it is).
  if (ComPort.Service().Refresh()) g.serial_count = ComPort.Service().Count();
  for (int i = g.serial_count; i >= 1 && !QuitRequested(); --i) {
    try {
      ComPort.Select(i - 1);
      TellPortTried(PortTry::Status::Trying);
      CheckComPort();
      if (!g.COMok) result.passedBy.push_back(TriedPort(PortTry::Status::Skipped));
      TellPortTried(g.COMok ? PortTry::Status::Found : PortTry::Status::Skipped);
      if (g.COMok) break;
    } catch (...) {
      // An error on one port ends only that port's try; the search goes on with the next one.
      lastLiveness_ = Liveness::NotOpened;
      const OpenFailure failure{OpenFailure::Kind::Other, "", "an error while trying it", ""};
      TellPortTried(PortTry::Status::Skipped, failure);
      result.passedBy.push_back(TriedPort(PortTry::Status::Skipped, failure));
      ComPort.Close();
      g.COMok = false;
    }
    loop.yield();
  }
  result.baud = ComPort.BaudRate();
  if (QuitRequested()) {  // the port is closed already
    result.outcome = SearchOutcome::Quit;
    return result;
  }
  if (!g.COMok) return result;
  result.port = ComPort.Name();
  result.identification = GetDevice();
  result.target = g;
  if (result.identification.Identified())
    result.outcome = SearchOutcome::Found;
  else
    result.outcome = QuitRequested() ? SearchOutcome::Quit : OutcomeOf(result.identification.outcome);
  return result;
}

}  // namespace bm
