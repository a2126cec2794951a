#include "app/cli/EventLog.h"

#include <cmath>

namespace bm::cli {

double Millis(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

void EventLog::Emit(const std::string& event, const nlohmann::ordered_json& fields) {
  if (!enabled_) return;
  nlohmann::ordered_json line;
  line["event"] = event;
  line["t"] = Millis(Seconds());
  for (const auto& [key, value] : fields.items()) line[key] = value;
  out_ << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n' << std::flush;
}

int EmitResult(EventLog& log, Outcome outcome, const nlohmann::ordered_json& extra) {
  nlohmann::ordered_json fields{{"outcome", NameOf(outcome)},
                                {"failures", nlohmann::ordered_json::array()},
                                {"exitCode", ExitStatusOf(outcome)},
                                {"seconds", Millis(log.Seconds())},
                                {"sha256", ""},
                                {"flashSha256", nullptr},
                                {"eepromSha256", nullptr}};
  for (const auto& [key, value] : extra.items())
    if (key != "outcome" && key != "exitCode") fields[key] = value;
  log.Emit("result", fields);
  return ExitStatusOf(outcome);
}

}  // namespace bm::cli
