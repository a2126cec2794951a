// The checks of our loader family, computed on the chip (protocol/wire.h), so a download is
// confirmed without a read-back:
// - the second version's CRC-32 of a flash or EEPROM range ("V", "v"), asked per block of at most
//   WIRE_CRC32_BLOCK_BYTES: the flash and the EEPROM, each block on its own;
// - the first version's CRC-16 of a flash range ("C"): the flash only, the whole image at once.
// The same block checks let a download find the pages the chip already holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "images/Images.h"
#include "link/Bootloader.h"
#include "link/TargetInfo.h"

namespace bm {

// Whether the loader's "i" reply says it can check: the family marker in LoaderID1 and a
// capability bit in LoaderID3. A loader of another family is never sent a check.
bool CanVerify(const TargetInfo& target);
// Why a download that must be checked is refused with a loader that cannot check.
inline constexpr const char* kCannotVerifyText =
    "This loader cannot verify the flash (its reply to \"i\" names no flash check).\nNothing was written.";
// Whether it checks blocks of flash and EEPROM with a CRC-32 (the second version).
bool HasBlockChecks(const TargetInfo& target);

// How long a check of `bytes` may take on the slowest chip the loader is built for (an 8 MHz
// ATmega328P sums about kCrcBytesPerMs bytes a millisecond for the CRC-16, kCrc32BytesPerMs for the
// CRC-32, read a bit at a time), on top of the reply window.
inline constexpr int kCrcBytesPerMs = 100;
inline constexpr int kCrc32BytesPerMs = 50;
int CrcWaitMs(int64_t bytes, int replyWindowMs = kComWaitPasses * kPassMs);

struct Verification {
  enum class Outcome {
    Verified,  // the chip holds the image
    Differs,   // it does not: firstDifferingPage or firstDifferingEepromByte says where
    NoAnswer,  // the loader did not answer a check
  };
  Outcome outcome = Outcome::NoAnswer;
  int32_t firstDifferingPage = -1;        // byte address of the first flash page that differs
  int32_t firstDifferingEepromByte = -1;  // address of the first EEPROM byte that differs
  bool flash = false, eeprom = false;     // what was checked
  int checkBits = 32;                     // 16 for the first version's single CRC-16
  int exchanges = 0;                      // checks it took

  // "flash and EEPROM", "flash" or "EEPROM": what was checked.
  std::string What() const;
};

// Checks the flash from 0 to `flashEnd` bytes (rounded up to the target's page; 0: not at all),
// the pages the image leaves blank as 0xFF, and the EEPROM from 0 to `eepromEnd` bytes (0: not at
// all; only a loader with block checks can). A block that differs is narrowed down to its first
// page (flash) or byte (EEPROM) by a few more checks. With `rewritten` (a flag per page, from a
// download that checked the chip before writing), a flash block none of whose pages was written
// matched the image at that check and is not asked again.
Verification Verify(Bootloader& link, const ImageBuffers& image, const TargetInfo& target, int32_t flashEnd,
                    int32_t eepromEnd, const std::vector<bool>* rewritten = nullptr);

// For a loader with block checks: for each page from 0 to `flashEnd` bytes (rounded up to the
// page), whether the chip holds something else than the image there (0xFF where the image is
// blank). One check per block, then one per page of a block that differs; once most pages of a
// block differ (another program), the pages after it count as differing unasked. None when the
// loader did not answer.
std::optional<std::vector<bool>> PagesThatDiffer(Bootloader& link, const ImageBuffers& image,
                                                 const TargetInfo& target, int32_t flashEnd);
// Whether the page at byte address `at` holds anything but 0xFF; none when the loader did not
// answer.
std::optional<bool> PageHoldsData(Bootloader& link, const TargetInfo& target, int32_t at);

}  // namespace bm
