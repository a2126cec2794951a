// The JSON lines of brindlemark-cli --json: one object per line on stdout, each with "event"
// and "t" (seconds since the program started, to the millisecond) first. Documented in
// docs/cli.md.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

namespace bm::cli {

class EventLog {
 public:
  EventLog(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}

  bool Enabled() const { return enabled_; }
  // Seconds since the log was made.
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }
  // Writes {"event": event, "t": ..., fields...} when enabled.
  void Emit(const std::string& event,
            const nlohmann::ordered_json& fields = nlohmann::ordered_json::object());

 private:
  std::ostream& out_;
  bool enabled_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Seconds rounded to the millisecond, as every "t" and "seconds" field carries them.
double Millis(double seconds);

}  // namespace bm::cli
