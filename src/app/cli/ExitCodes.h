// The exit statuses of brindlemark-cli and the outcome names its JSON lines use for them.
#pragma once

namespace bm::cli {

inline constexpr int kExitDone = 0;
inline constexpr int kExitNotLoaded = 1;      // nothing loaded, or the load showed a message (no --force)
inline constexpr int kExitUsage = 2;          // a wrong option or value, also an unusable --baud
inline constexpr int kExitNotFound = 3;       // no port answered "?"
inline constexpr int kExitRefused = 4;        // identification refused or failed
inline constexpr int kExitCommunication = 5;  // a numbered communication failure during the run
inline constexpr int kExitCheckFailed = 6;    // the target stopped answering before the run
inline constexpr int kExitDoesNotFit = 7;     // the flash image does not fit the target's flash
inline constexpr int kExitGangFailed = 8;     // gang: some boards failed
inline constexpr int kExitInterrupted = 130;  // Ctrl-C or SIGTERM

}  // namespace bm::cli
