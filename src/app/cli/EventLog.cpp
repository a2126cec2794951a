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

}  // namespace bm::cli
