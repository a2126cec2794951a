// The JSON lines of brindlemark-cli --json: one object per line on stdout, each with "event"
// and "t" (seconds since the program started, to the millisecond) first. Documented in
// docs/cli.md.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "app/cli/ExitCodes.h"

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

// The closing "result" line of a command. "outcome" and "exitCode" come from `outcome` alone, so
// the two never disagree; the other documented fields keep their order (failures, seconds,
// sha256, flashSha256, eepromSha256) and take `extra`'s values where it has them, else empty
// ones (no failures, the seconds since the log was made, no hashes). Fields of `extra` beyond
// those follow in its order. Returns the exit status that goes with `outcome`.
int EmitResult(EventLog& log, Outcome outcome,
               const nlohmann::ordered_json& extra = nlohmann::ordered_json::object());

}  // namespace bm::cli
