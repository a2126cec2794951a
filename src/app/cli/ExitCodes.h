// The outcomes of brindlemark-cli: one table of every outcome name its JSON lines and its summary
// can print, the exit status that goes with it, and its meaning in one line. The help text and
// docs/cli.md list the same table; the commands name an Outcome and take the rest from here.
#pragma once

#include <iterator>
#include <optional>
#include <string_view>

namespace bm::cli {

enum class Outcome {
  Done,
  LoadFailed,
  NothingToWrite,
  Usage,
  NotFound,
  Refused,
  Failed,
  PortLost,
  NoAnswer,
  DoesNotFit,
  BoardsFailed,
  VerifyFailed,
  Stopped,
  Timeout,  // gang: one board's outcome
  Skipped,  // gang: one board's outcome
  OutputFailed,
  RecordFailed,
};

struct OutcomeRow {
  Outcome outcome;
  const char* name;  // as the JSON lines and the gang summary print it
  int exitStatus;
  bool boardOnly;  // only a gang board's outcome: the tool itself never exits with it
  const char* meaning;
};

inline constexpr OutcomeRow kOutcomes[] = {
    {Outcome::Done, "done", 0, false, "done"},
    {Outcome::LoadFailed, "load-failed", 1, false,
     "nothing loaded (a damaged file loads nothing), or the load showed a message (without --force)"},
    {Outcome::NothingToWrite, "nothing-to-write", 1, false,
     "the file holds nothing for the chosen phases (an erase without a flash image); no port was opened"},
    {Outcome::Usage, "usage", 2, false, "a wrong option or value, also a --baud rate the port cannot use"},
    {Outcome::NotFound, "not-found", 3, false, "target not found: no port answered \"?\""},
    {Outcome::Refused, "refused", 4, false,
     "identification refused or failed, or --verify with a loader that cannot verify (nothing was written)"},
    {Outcome::Failed, "failed", 5, false, "a numbered communication failure during the run"},
    {Outcome::PortLost, "port-lost", 5, false, "the port went away during the run (an unplugged adapter)"},
    {Outcome::NoAnswer, "no-answer", 6, false,
     "the target stopped answering before the run (no \"KW\" to \"?\")"},
    {Outcome::DoesNotFit, "does-not-fit", 7, false,
     "the flash image does not fit the target's flash (nothing was written)"},
    {Outcome::BoardsFailed, "boards-failed", 8, false, "gang: some boards failed"},
    {Outcome::VerifyFailed, "verify-failed", 9, false,
     "--verify: the flash or the EEPROM differs from the image after writing (the first difference is "
     "named)"},
    {Outcome::Stopped, "stopped", 130, false,
     "interrupted (Ctrl-C, SIGTERM): the run ends at its next wait, the port closes without \"X\""},
    {Outcome::Timeout, "timeout", 130, true, "gang: the board took longer than --timeout and was stopped"},
    {Outcome::Skipped, "skipped", 3, true, "gang --all-ports: no loader answered on the port; not a failure"},
    {Outcome::OutputFailed, "output-failed", 10, false,
     "the run was done, but what it reports could not be written (a JSON line or stdout: a closed pipe, a "
     "full disk; a board's log)"},
    {Outcome::RecordFailed, "record-failed", 11, false,
     "--record: the production record could not be opened or written (before the run: no port was "
     "touched; after it: the board is as the run left it, its row unfinished); records: it could not be "
     "read"},
};

constexpr const OutcomeRow& RowOf(Outcome outcome) {
  for (const OutcomeRow& row : kOutcomes)
    if (row.outcome == outcome) return row;
  return kOutcomes[0];
}
constexpr const char* NameOf(Outcome outcome) { return RowOf(outcome).name; }
constexpr int ExitStatusOf(Outcome outcome) { return RowOf(outcome).exitStatus; }

// The outcome a result line names, or none for a name the table does not know.
constexpr std::optional<Outcome> OutcomeNamed(std::string_view name) {
  for (const OutcomeRow& row : kOutcomes)
    if (name == row.name) return row.outcome;
  return std::nullopt;
}

// For a child that exited without a result line: the first outcome the tool itself exits with
// under `status` ("failed" for 5, never "port-lost"), or Failed for a status the table lacks.
constexpr Outcome OutcomeOfExitStatus(int status) {
  for (const OutcomeRow& row : kOutcomes)
    if (!row.boardOnly && row.exitStatus == status) return row.outcome;
  return Outcome::Failed;
}

// Exit statuses by name, for the places that deal in a process's status (gang's children).
inline constexpr int kExitDone = ExitStatusOf(Outcome::Done);
inline constexpr int kExitNotLoaded = ExitStatusOf(Outcome::LoadFailed);
inline constexpr int kExitUsage = ExitStatusOf(Outcome::Usage);
inline constexpr int kExitNotFound = ExitStatusOf(Outcome::NotFound);
inline constexpr int kExitRefused = ExitStatusOf(Outcome::Refused);
inline constexpr int kExitCommunication = ExitStatusOf(Outcome::Failed);
inline constexpr int kExitNoAnswer = ExitStatusOf(Outcome::NoAnswer);
inline constexpr int kExitDoesNotFit = ExitStatusOf(Outcome::DoesNotFit);
inline constexpr int kExitGangFailed = ExitStatusOf(Outcome::BoardsFailed);
inline constexpr int kExitInterrupted = ExitStatusOf(Outcome::Stopped);
inline constexpr int kExitOutputFailed = ExitStatusOf(Outcome::OutputFailed);
inline constexpr int kExitRecordFailed = ExitStatusOf(Outcome::RecordFailed);

}  // namespace bm::cli
