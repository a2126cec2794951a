// The runs over a connected loader, download and erase, and what they return.
//
// A run is a function of the link, the image and its limits, telling a RunObserver what happens
// at the documented moments: each phase, each progress value, each numbered failure and whether
// the run goes on after it. It returns a RunResult and never shows anything itself.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "images/Images.h"
#include "link/Bootloader.h"
#include "link/TargetInfo.h"
#include "link/Verify.h"

namespace bm {

// The numbered failures, one per protocol step; the number is the one in "N Communication error".
enum class Failure {
  LastPageAddressNotAcknowledged = 1,  // "A" of the last page, before the first erase
  LastPageEraseNotAcknowledged = 2,    // "E" of the last page
  AddressNotAcknowledged = 3,          // "A" of a page
  EraseNotAcknowledged = 4,            // "E" of a page (at address 0 the run goes on)
  ChecksumMismatch = 5,                // the reply to a page's "D" data
  ProgramNotAcknowledged = 6,          // "P" of a page (at address 0 the run goes on)
  EepromNotAcknowledged = 7,           // "B" of an EEPROM byte
  EraseAddressNotAcknowledged = 8,     // "A" of a page in the erase run
  ErasePageNotAcknowledged = 9,        // "E" of a page in the erase run (at address 0 it goes on)
};

constexpr int Number(Failure failure) { return static_cast<int>(failure); }

enum class Phase { Flash, Eeprom, Erase };

class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void OnPhase(Phase) {}
  // `done` of `total` bytes (flash or EEPROM bytes written, flash bytes erased) as a percent.
  virtual void OnProgress(int /*percent*/, int64_t /*done*/, int64_t /*total*/) {}
  // A failure the target caused (never one that followed Stop or a quit). `mayGoOn`: the
  // sequence allows going on after it and the port is still open; a closed port here means the
  // adapter went away.
  virtual void OnFailure(Failure, bool /*mayGoOn*/) {}
};

enum class RunEnd {
  Done,      // reached its end (perhaps after failures it could go on from)
  Failed,    // ended by a numbered failure, the port still open
  Stopped,   // ended because the user pressed Stop (the loader was told to leave)
  Quit,      // ended because the user quit (the port was closed without a farewell)
  PortLost,  // ended because the port closed by itself (an unplugged adapter)
};

struct RunResult {
  RunEnd end = RunEnd::Done;
  std::vector<Failure> failures;  // every numbered failure the target caused, in order
  // The check after a clean download that asked for one (RunLimits::verify).
  std::optional<Verification> verification;
  // Flash pages the download erased or wrote, and pages it left alone because the chip already
  // held them (RunLimits::skipUnchanged).
  int pagesWritten = 0, pagesSkipped = 0;
  bool eepromUnchanged = false;  // the EEPROM phase was left out: the chip held its image already

  // Done without any numbered failure: the only outcome that is a success.
  bool Clean() const { return end == RunEnd::Done && failures.empty(); }
};

struct RunLimits {
  TargetInfo target;      // page size and flash size, from identification
  int32_t eepromEnd = 0;  // OrgEEpEnd: when above 0, the EEPROM download stops there
  // Asked as each download phase is reached, whether to run it (the window reads its check box
  // at that moment); every phase runs when it is empty.
  std::function<bool(Phase)> phaseWanted;
  // After a clean download: check what its phases wrote with the loader's CRC (Verify.h): the
  // flash, and the EEPROM where the loader checks blocks. The caller made sure the loader can.
  bool verify = false;
  // Write only the flash pages the chip does not already hold, as a loader with block checks
  // tells (Verify.h); the memory afterwards is what a full download leaves. Otherwise, or when the
  // loader cannot tell, every page is written.
  bool skipUnchanged = false;

  bool Wanted(Phase phase) const { return !phaseWanted || phaseWanted(phase); }
};

RunResult Download(Bootloader& link, const ImageBuffers& image, const RunLimits& limits,
                   RunObserver& observer);
RunResult Erase(Bootloader& link, const ImageBuffers& image, const RunLimits& limits, RunObserver& observer);

// The image end in bytes, capped at the target's flash size (in words).
int32_t FlashEndBytes(int32_t imageBytes, int32_t flashWords);

// Whether the flash image holds anything to write or erase on this target: an image end above
// 0, and a page size and flash size to address it with. When it does not, Download leaves the
// flash alone and Erase sends nothing.
bool HasFlashToWrite(const ImageBuffers& image, const TargetInfo& target);

// The EEPROM bytes a download writes: the image end, cut at `limit` (OrgEEpEnd) when that is
// above 0. When it is 0, Download leaves the EEPROM alone.
int32_t EepromEnd(const ImageBuffers& image, int32_t limit);

// Why a flash image of `imageBytes` cannot be downloaded into a flash of `flashWords` words
// (it would not fit, and cutting it would lose its end without a word), or nothing when it fits.
std::optional<std::string> FlashFitProblem(int32_t imageBytes, int32_t flashWords);

// 100 × done / end rounded to the nearest integer; an end of 0 counts as done (100).
int Percent(int64_t done, int64_t end);

}  // namespace bm
