#include "app/desktop/DesktopRecord.h"

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <iostream>

namespace bm::app {
namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The outcome's name as the command line's table names it, for a run that started.
const char* OutcomeOf(const RunReport& report) {
  const RunResult& r = report.result;
  if (r.Clean()) return report.verify == VerifyStatus::Differs ? "verify-failed" : "done";
  switch (r.end) {
    case RunEnd::Stopped:
    case RunEnd::Quit:
      return "stopped";
    case RunEnd::PortLost:
      return "port-lost";
    default:
      return "failed";
  }
}

}  // namespace

DesktopRecord::DesktopRecord(Engine& engine, SerialService& ports, std::string database)
    : engine_(engine), ports_(ports), database_(std::move(database)) {
  listening_ = engine_.Listen(*this);
}

void DesktopRecord::OnPortTried(const PortTry& tried) {
  if (tried.status == PortTry::Status::Found) port_ = tried.port;
}

void DesktopRecord::OnRunStarted(RunKind kind) {
  const LoadResult& load = engine_.Loaded();
  row_ = {};
  row_.command = kind == RunKind::Erase ? "erase" : "download";
  char host[HOST_NAME_MAX + 1] = {};
  if (::gethostname(host, sizeof host) == 0) row_.host = host;
  row_.stationName = "window";
  row_.port = port_;
  for (int i = 0; i < ports_.Count(); ++i) {
    if (ports_.PortName(i) != port_) continue;
    const PortIdentity identity = ports_.Identity(i);
    row_.portStableName = identity.stableName;
    row_.adapterSerial = identity.serialNumber;
    break;
  }
  row_.file = load.fileName;
  row_.sha256 = load.sha256;
  const TargetInfo& target = engine_.State();
  char signature[16];
  std::snprintf(signature, sizeof signature, "%06X", static_cast<unsigned>(target.TargID) & 0xFFFFFF);
  row_.signature = signature;
  if (target.LoaderIds)
    for (uint32_t id : *target.LoaderIds)
      row_.loaderIds += (row_.loaderIds.empty() ? "" : ",") + std::to_string(id);
  row_.version = BRINDLEMARK_VERSION_TEXT;
  startedSeconds_ = Now();
  try {
    if (!store_) store_ = records::Store::Open(database_);
    row_.id = store_->Begin(row_);
  } catch (const records::RecordError& e) {
    store_.reset();
    row_.id = 0;
    std::cerr << "brindlemark: " << e.what() << '\n';
  }
}

void DesktopRecord::OnRunEnded(RunKind, const RunReport& report) {
  if (!store_ || row_.id == 0) return;
  row_.seconds = Now() - startedSeconds_;
  row_.outcome = OutcomeOf(report);
  row_.verified = report.verify == VerifyStatus::Verified && report.result.verification
                      ? (report.result.verification->eeprom ? "flash and EEPROM" : "flash")
                      : "none";
  row_.flashSha256 = report.flash ? report.flash->sha256 : "";
  row_.eepromSha256 = report.eeprom ? report.eeprom->sha256 : "";
  row_.pagesWritten = report.result.pagesWritten;
  row_.pagesSkipped = report.result.pagesSkipped;
  try {
    store_->Finish(row_, false);
  } catch (const records::RecordError& e) {
    store_.reset();
    std::cerr << "brindlemark: " << e.what() << " (the run's row stays unfinished)\n";
  }
}

}  // namespace bm::app
