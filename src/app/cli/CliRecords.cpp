// brindlemark-cli records DB: what was flashed, from the production record, found by board
// serial, image hash, time or outcome; as a table, as JSON lines (one `record` event a row) or as
// comma-separated values for a customer's spreadsheet.
#include <cstdio>
#include <iostream>

#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/ExitCodes.h"
#include "records/RecordStore.h"

namespace bm::cli {
namespace {

using json = nlohmann::ordered_json;

json Nullable(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

json RowJson(const records::Attempt& a) {
  return {{"id", a.id},
          {"startedAt", a.startedAt},
          {"seconds", a.seconds ? json(*a.seconds) : json(nullptr)},
          {"command", a.command},
          {"host", Nullable(a.host)},
          {"stationName", Nullable(a.stationName)},
          {"port", Nullable(a.port)},
          {"portStableName", Nullable(a.portStableName)},
          {"adapterSerial", Nullable(a.adapterSerial)},
          {"signature", Nullable(a.signature)},
          {"loaderIds", Nullable(a.loaderIds)},
          {"file", Nullable(a.file)},
          {"sha256", Nullable(a.sha256)},
          {"flashSha256", Nullable(a.flashSha256)},
          {"eepromSha256", Nullable(a.eepromSha256)},
          {"outcome", a.outcome},
          {"verified", a.verified},
          {"pagesWritten", a.pagesWritten},
          {"pagesSkipped", a.pagesSkipped},
          {"boardSerial", Nullable(a.boardSerial)},
          {"sequence", Nullable(a.sequence)},
          {"serialNumber", a.serialNumber ? json(*a.serialNumber) : json(nullptr)},
          {"version", Nullable(a.version)}};
}

// One field of a CSV line (RFC 4180): quoted when it holds a comma, a quote or a line break.
std::string CsvField(const json& value) {
  if (value.is_null()) return "";
  std::string text = value.is_string() ? value.get<std::string>() : value.dump();
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

void PrintCsv(const std::vector<records::Attempt>& rows) {
  const json header = RowJson(records::Attempt());
  std::string line;
  for (const auto& [name, value] : header.items()) line += (line.empty() ? "" : ",") + name;
  std::cout << line << "\r\n";
  for (const records::Attempt& a : rows) {
    line.clear();
    bool first = true;
    const json row = RowJson(a);
    for (const auto& [name, value] : row.items()) {
      line += (first ? "" : ",") + CsvField(value);
      first = false;
    }
    std::cout << line << "\r\n";
  }
}

void PrintTable(const std::vector<records::Attempt>& rows) {
  std::printf("%-8s %-24s %-16s %-24s %-9s %-14s %-16s %-16s %s\n", "id", "started (UTC)", "station", "port",
              "signature", "serial", "outcome", "verified", "file sha256");
  for (const records::Attempt& a : rows) {
    const std::string station = a.stationName.empty() ? a.host : a.host + "/" + a.stationName;
    std::printf("%-8lld %-24s %-16s %-24s %-9s %-14s %-16s %-16s %.12s\n", static_cast<long long>(a.id),
                a.startedAt.c_str(), station.c_str(), a.port.c_str(),
                a.signature.empty() ? "-" : a.signature.c_str(),
                a.boardSerial.empty() ? "-" : a.boardSerial.c_str(), a.outcome.c_str(), a.verified.c_str(),
                a.sha256.c_str());
  }
  std::fprintf(stderr, "records: %zu attempt%s\n", rows.size(), rows.size() == 1 ? "" : "s");
}

}  // namespace

int Records(const CommandLine& line) {
  EventLog log(std::cout, line.json);
  const auto refuse = [&log](Outcome outcome, const std::string& text) {
    std::cerr << "records: " << text << '\n';
    log.Emit("message", {{"kind", "error"}, {"text", "records: " + text}});
    return EmitResult(log, outcome);
  };
  const RecordOptions& options = line.record;
  records::Filter filter;
  filter.serial = options.serial;
  filter.outcome = options.outcome;
  if (options.sha256) {
    std::string hash = *options.sha256;
    for (char& c : hash) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (hash.size() != 64 || hash.find_first_not_of("0123456789abcdef") != std::string::npos)
      return refuse(Outcome::Usage, "--sha256 needs 64 hex digits, not '" + *options.sha256 + "'");
    filter.sha256 = hash;
  }
  if (options.since) {
    filter.since = records::NormalizedTime(*options.since);
    if (!filter.since)
      return refuse(Outcome::Usage, "--since needs a UTC time such as 2024-05-01 or 2024-05-01T12:00, not '" +
                                        *options.since + "'");
  }
  std::vector<records::Attempt> rows;
  try {
    rows = records::Store::Open(line.file, false)->Find(filter);
  } catch (const records::RecordError& e) {
    return refuse(Outcome::RecordFailed, e.what());
  }
  if (options.csv) {
    PrintCsv(rows);
  } else if (log.Enabled()) {
    for (const records::Attempt& a : rows) log.Emit("record", RowJson(a));
  } else {
    PrintTable(rows);
  }
  return EmitResult(log, Outcome::Done, {{"records", rows.size()}});
}

}  // namespace bm::cli
