// Words about a run that both fronts use: the window in its status lines and boxes, the
// command-line tool in its lines on stderr and its JSON messages.
#pragma once

#include <optional>
#include <string>

#include "link/Run.h"
#include "link/Verify.h"
#include "shell/core/Outcomes.h"

namespace bm {

inline constexpr const char* kTargetNotFound = "Target not found";

// "programming Flash", "programming EEprom"; nothing for an erase.
const char* PhaseText(Phase phase);
// What a run that ended in `phase` before its end left: "the flash is partly written", ...
const char* PartlyDone(Phase phase);
// "5 Communication error".
std::string CommunicationErrorText(Failure failure);
// Why a check after a download failed, naming the first difference; nothing when it passed.
std::optional<std::string> VerifyFailedText(const Verification& check);
// Why a request leaves nothing to write, in the words of the options that left it so.
std::string NothingToWriteText(NothingReason nothing);
// Why a run wrote nothing after a file it was to write changed on disk.
std::string FileChangedText(const std::string& file, const std::string& why);
// 0x0080: an address as the texts name it (four hex digits at least).
std::string AddressText(int64_t address);

}  // namespace bm
