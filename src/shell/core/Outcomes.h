// What the engine's operations return: the load, the port search with identification, and a
// download or erase. Each result carries every fact a front shows, so no front reads the
// engine's state back to rebuild one; the command-line tool maps them to its exit codes, the
// presenter to the window's captions, boxes and modes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Diagnostic.h"
#include "link/Bootloader.h"
#include "link/Run.h"

namespace bm {

struct LoadResult {
  bool loaded = false;             // an image is in the buffers and may be programmed
  Diagnostics diagnostics;         // what the load found, in the order it found it
  bool fileNamesRate = false;      // the file gave the rate (a project's BaudRate key)
  std::string fileName;            // the chosen file's name
  std::filesystem::path lastFile;  // the file read last (a project's images lie beside it)
  int32_t flashBytes = 0;          // the image ends (FBytesRead, EBytesRead)
  int32_t eepromBytes = 0;
  std::optional<int32_t> deviceId;  // the device ID a project or pack expects; none for an image
  ExpectedIds expected;             // OrgID, OrgBootID and OrgEEpEnd as the load left them
  std::string cpuName;              // the CPU name a project or pack gives
  bool hasParameters = false;       // a pack's parameter block was read
  std::string sha256;               // of the chosen file's bytes as the load read them; empty: none read
  int baud = 0;                     // the rate in effect after the load
  std::optional<std::string> baudProblem;  // a rate given by the front the port cannot use

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

struct SearchResult {
  SearchOutcome outcome = SearchOutcome::NotRun;
  std::string port;               // the port a loader answered on
  std::vector<PortTry> passedBy;  // each port passed by, and why
  Identification identification;  // what identification found (also when it refused the chip)
  TargetInfo target;              // ... as values: signature, page and flash size, loader IDs
  int baud = 0;                   // the rate the search used
};

enum class RunKind { Download, Erase };

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

// Why a request leaves nothing to write, decided before any port is touched.
enum class NothingReason {
  NoFlashToErase,  // an erase without a flash image (or with the flash left out)
  FlashLeftOut,    // the request leaves out the flash and the file has no EEPROM image
  EepromLeftOut,   // the request leaves out the EEPROM and the file has no flash image
  NoImage,         // the file holds no image
};

// Whether a download checks the flash afterwards with the loader's CRC (our loader family only).
enum class VerifyMode {
  Off,
  WhenNamed,  // when the file names a loader ID and the loader can (the window)
  Required,   // always: a loader that cannot is refused before anything is written
};

// What a download or erase is asked to do, as a value: the window fills it from its check boxes,
// the command-line tool from its options.
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
  // Asked again as each phase is reached (the window reads its check box at that moment). A
  // request with it runs its documented exchange even when nothing is left to write.
  std::function<bool(Phase)> phaseWanted;
  // Bytes laid over the loaded EEPROM image for this run only (a board's serial number), after
  // any reload and before the first phase; the image grows to cover them, and is as loaded again
  // when the run has ended. The window sets none.
  struct EepromPatch {
    int32_t address = 0;
    std::vector<uint8_t> bytes;
  };
  std::optional<EepromPatch> eepromPatch;
};

// Why a download's memory was or was not checked afterwards.
enum class VerifyStatus {
  NotAsked,      // the request asked for no check
  NoLoaderId,    // the window checks when the file names a loader ID; this one names none
  LoaderCannot,  // the loader's reply to "i" names no flash check
  NotReached,    // the run did not end cleanly, or wrote nothing to check
  Verified,      // the chip holds the image
  Differs,       // it does not: the verification says where
  NoAnswer,      // the loader did not answer the check
};

// One memory a run's phase went to write: the bytes from 0 and their SHA-256.
struct WrittenRange {
  int64_t bytes = 0;
  std::string sha256;
};

struct RunReport {
  RunStart start = RunStart::NotRun;
  RunResult result;
  std::vector<Phase> phases;  // the phases the run reached, in order
  // The flash from 0 to the image end rounded up to the target's page (0xFF-filled, blank pages
  // included), and the EEPROM from 0 to its end, as the run's phases went to write them; none for
  // a phase the run did not reach (an erase writes no image). The EEPROM counts as written when
  // the chip already held it.
  std::optional<WrittenRange> flash, eeprom;
  VerifyStatus verify = VerifyStatus::NotAsked;
  std::string reloaded;  // the file that changed on disk and was read again before the run, if any
  // Why nothing was written, in words, where the start says so: the refusal's text, the reason
  // nothing is to write, why a changed file was not written.
  std::string why;
  std::optional<NothingReason> nothing;  // NothingToWrite: why
  std::optional<PortTry> notAnswering;   // NoAnswer: the port as the liveness check found it
  Identification identification;         // NotIdentified: what identification found

  bool Reached(Phase phase) const { return std::find(phases.begin(), phases.end(), phase) != phases.end(); }
};

}  // namespace bm
