#include "app/cli/CliRecord.h"

#include <cstdlib>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <climits>

namespace bm::cli {
namespace {

std::string HostName() {
#ifdef _WIN32
  const char* name = std::getenv("COMPUTERNAME");  // records are refused there anyway
  return name ? name : "";
#else
  char name[HOST_NAME_MAX + 1] = {};
  return ::gethostname(name, sizeof name) == 0 ? std::string(name) : std::string();
#endif
}

// The layout --serial-number names, or the usage error that refuses it.
std::variant<records::SerialLayout, RecordRefusal> LayoutOf(const CommandLine& line) {
  auto parsed = records::ParseSerialLayout(*line.record.serialNumber);
  if (auto* why = std::get_if<std::string>(&parsed)) return RecordRefusal{Outcome::Usage, *why};
  return std::get<records::SerialLayout>(parsed);
}

const char* VerifiedText(const RunReport& run) {
  if (run.verify != VerifyStatus::Verified || !run.result.verification) return "none";
  return run.result.verification->eeprom ? "flash and EEPROM" : "flash";
}

}  // namespace

std::optional<RecordRefusal> PrepareRecord(const CommandLine& line) {
  if (!line.record.database) return std::nullopt;
  if (line.record.serialNumber) {
    auto layout = LayoutOf(line);
    if (auto* refusal = std::get_if<RecordRefusal>(&layout)) return *refusal;
  }
  try {
    auto store = records::Store::Open(*line.record.database);
    if (line.record.serialNumber) store->EnsureSequence(*line.record.sequence, line.record.sequenceStart);
  } catch (const records::SequenceError& e) {
    return RecordRefusal{Outcome::Usage, e.what()};
  } catch (const records::RecordError& e) {
    return RecordRefusal{Outcome::RecordFailed, e.what()};
  }
  return std::nullopt;
}

std::optional<RecordRefusal> BoardRecord::Begin(const LoadResult& load) {
  if (!Active()) return std::nullopt;
  const RecordOptions& options = line_.record;
  if (options.serialNumber) {
    auto layout = LayoutOf(line_);
    if (auto* refusal = std::get_if<RecordRefusal>(&layout)) return *refusal;
    layout_ = std::get<records::SerialLayout>(layout);
    // The project's EEPROM (its EEpromMax), else the largest any chip of the family has.
    const int64_t size = load.expected.OrgEEpEnd > 0 ? load.expected.OrgEEpEnd : kEepromSize;
    if (layout_->address + static_cast<int64_t>(layout_->MinBytes()) > size)
      return RecordRefusal{Outcome::Usage, "--serial-number at EEPROM address " +
                                               std::to_string(layout_->address) + " (" +
                                               std::to_string(layout_->MinBytes()) +
                                               " bytes) lies outside the project's EEPROM of " +
                                               std::to_string(size) + " bytes"};
  }
  try {
    store_ = records::Store::Open(*options.database);
    if (options.serialNumber) store_->EnsureSequence(*options.sequence, options.sequenceStart);
    row_.command = CommandName(line_.command);
    row_.host = HostName();
    row_.stationName = options.stationName.value_or("");
    if (line_.ports.devices.size() == 1) row_.port = line_.ports.devices.front();
    row_.file = line_.file;
    row_.sha256 = load.sha256;
    row_.version = BRINDLEMARK_VERSION_TEXT;
    row_.startedAt = records::NowUtc();
    row_.id = store_->Begin(row_);
  } catch (const records::SequenceError& e) {
    store_.reset();
    return RecordRefusal{Outcome::Usage, e.what()};
  } catch (const records::RecordError& e) {
    store_.reset();
    return RecordRefusal{Outcome::RecordFailed, e.what()};
  }
  return std::nullopt;
}

void BoardRecord::Found(SerialService& ports, const SearchResult& search) {
  if (!store_) return;
  if (!search.port.empty()) row_.port = search.port;
  for (int i = 0; i < ports.Count(); ++i) {
    if (ports.PortName(i) != search.port) continue;
    const PortIdentity identity = ports.Identity(i);
    row_.portStableName = identity.stableName;
    row_.adapterSerial = identity.serialNumber;
    break;
  }
  row_.signature = search.identification.signatureText.value_or("");
  if (const auto& ids = search.target.LoaderIds) {
    row_.loaderIds.clear();
    for (auto id : *ids) row_.loaderIds += (row_.loaderIds.empty() ? "" : ",") + std::to_string(id);
  }
}

std::optional<RecordRefusal> BoardRecord::TakeSerial(RunRequest& request) {
  if (!store_ || !layout_ || !request.eeprom) return std::nullopt;
  try {
    const records::SerialLayout& layout = *layout_;
    const int64_t number =
        store_->TakeSerial(*line_.record.sequence, row_.id, [&layout](int64_t n) { return layout.Text(n); });
    row_.serialNumber = number;
    row_.boardSerial = layout.Text(number);
    auto bytes = layout.Bytes(number);
    if (auto* why = std::get_if<std::string>(&bytes)) return RecordRefusal{Outcome::RecordFailed, *why};
    request.eepromPatch = RunRequest::EepromPatch{layout.address, std::get<std::vector<uint8_t>>(bytes)};
  } catch (const records::RecordError& e) {
    return RecordRefusal{Outcome::RecordFailed, e.what()};
  }
  return std::nullopt;
}

std::optional<RecordRefusal> BoardRecord::Finish(Outcome outcome, const RunReport& run, double seconds) {
  if (!store_) return std::nullopt;
  row_.seconds = seconds;
  row_.outcome = NameOf(outcome);
  row_.verified = VerifiedText(run);
  row_.flashSha256 = run.flash ? run.flash->sha256 : "";
  row_.eepromSha256 = run.eeprom ? run.eeprom->sha256 : "";
  row_.pagesWritten = run.result.pagesWritten;
  row_.pagesSkipped = run.result.pagesSkipped;
  // The board holds its number when the run was done (also when only its report was lost).
  const bool used = outcome == Outcome::Done || outcome == Outcome::OutputFailed;
  try {
    store_->Finish(row_, used);
  } catch (const records::RecordError& e) {
    store_.reset();
    return RecordRefusal{Outcome::RecordFailed,
                         std::string(e.what()) + " (the board's row stays unfinished)"};
  }
  store_.reset();
  return std::nullopt;
}

}  // namespace bm::cli
