// The flash check of our loader family: "C" returns a CRC of a flash range computed on the chip
// (protocol/wire.h), so a download is confirmed in one exchange instead of a read-back.
#pragma once

#include <cstdint>

#include "images/Images.h"
#include "link/Bootloader.h"
#include "link/TargetInfo.h"

namespace bm {

// Whether the loader's "i" reply says it knows "C": the family marker in LoaderID1 and the
// capability bit in LoaderID3. A loader of another family is never sent "C".
bool CanVerify(const TargetInfo& target);

// How long a check of `bytes` may take on the slowest chip the loader is built for (an 8 MHz
// ATmega328P reads and sums about kCrcBytesPerMs bytes a millisecond), on top of the reply window.
inline constexpr int kCrcBytesPerMs = 100;
int CrcWaitMs(int64_t bytes, int replyWindowMs = kComWaitPasses * kPassMs);

struct Verification {
  enum class Outcome {
    Verified,  // the chip holds the image
    Differs,   // a page differs: firstDifferingPage is its byte address
    NoAnswer,  // the loader did not answer a check
  };
  Outcome outcome = Outcome::NoAnswer;
  int32_t firstDifferingPage = -1;
  int exchanges = 0;  // "C" exchanges it took
};

// Checks the flash the image covers, from 0 to its end rounded up to the target's page, the
// pages the image leaves blank as 0xFF: one exchange for the whole range, then a few more to
// narrow a difference down to its first page.
Verification VerifyFlash(Bootloader& link, const ImageBuffers& image, const TargetInfo& target);

}  // namespace bm
