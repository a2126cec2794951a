// What the window's operations return besides what they show: the loading step, the port search
// with identification, and a download or erase. The command-line tool maps these to its exit
// codes; the window shows its boxes and modes as it always did.
#pragma once

#include <algorithm>
#include <string>

#include "base/Diagnostic.h"
#include "link/Bootloader.h"
#include "link/Run.h"

namespace bm {

struct LoadResult {
  bool loaded = false;         // an image is in the buffers and shown (the window is in mode 1)
  Diagnostics diagnostics;     // what the load found, in the order the window showed it
  bool fileNamesRate = false;  // the file gave the rate (a project's BaudRate key)

  bool Has(DiagnosticCode code) const {
    return std::any_of(diagnostics.begin(), diagnostics.end(),
                       [code](const Diagnostic& d) { return d.code == code; });
  }
};

enum class SearchOutcome {
  NotRun,
  Found,       // a loader answered and was identified
  NotFound,    // no port answered "?" ("Target not found")
  Refused,     // wrong device or loader, or a page geometry that cannot be programmed
  Incomplete,  // the reply to "I" stopped short
  Failed,      // a broken identification exchange ("Communication error")
  Quit,        // the user quit during the search
};

// One port of the search as it is tried: "Trying", then "Found" or "Skipped" with the reason.
struct PortTry {
  enum class Status { Trying, Found, Skipped };
  std::string port;
  Status status = Status::Trying;
  Liveness liveness = Liveness::Alive;  // Skipped: the answer to "?", or that the port would not open
  OpenFailure openFailure;              // Skipped with NotOpened: why
  std::string answer;                   // Skipped with WrongAnswer: what came instead of "KW"
};

enum class RunStart {
  NotRun,
  Started,         // the run went to the wire; its result says how it ended
  NoAnswer,        // the liveness check before the run failed: nothing was written
  NotIdentified,   // identification failed or was refused, or no usable page geometry: nothing was written
  DoesNotFit,      // the flash image is larger than the target's flash: nothing was written
  CannotVerify,    // a check was required and the loader cannot do one: nothing was written
  NothingToWrite,  // the request left nothing to write or erase: the port was not touched
  FileChanged,     // a file changed on disk and no longer fits the connection: nothing was written
};

// What a download or erase is asked to do, as a value: the window fills it from its check boxes,
// the command-line tool from its options.
// Whether a download checks the flash afterwards with the loader's CRC (our loader family only).
enum class VerifyMode {
  Off,
  WhenNamed,  // when the file names a loader ID and the loader can (the window)
  Required,   // always: a loader that cannot is refused before anything is written
};

struct RunRequest {
  bool flash = true;   // write (or, for an erase, erase) the flash image
  bool eeprom = true;  // write the EEPROM image
  // Identify the target again after the liveness check, so a board swapped behind a port that
  // stayed open is never written with another chip's image. A front whose search and run are
  // one step may leave it out.
  bool identifyAgain = true;
  VerifyMode verify = VerifyMode::Off;
  // Leave alone what the chip already holds (a loader with block checks); the window writes
  // every page, as documented.
  bool skipUnchanged = false;
};

struct RunReport {
  RunStart start = RunStart::NotRun;
  RunResult result;
  std::string reloaded;  // the file that changed on disk and was read again before the run, if any
};

}  // namespace bm
