#include "link/Verify.h"

#include <algorithm>

#include "link/Run.h"
#include "protocol/crc.h"
#include "protocol/wire.h"

namespace bm {

bool CanVerify(const TargetInfo& target) {
  return target.LoaderIds && (*target.LoaderIds)[1] == WIRE_FAMILY_ID &&
         ((*target.LoaderIds)[3] & WIRE_CAPABILITY_FLASH_CRC) != 0;
}

int CrcWaitMs(int64_t bytes, int replyWindowMs) {
  return static_cast<int>(replyWindowMs + bytes / kCrcBytesPerMs);
}

namespace {

// The chip's CRC of `words` words from word address `start`, or none when it did not answer.
std::optional<uint16_t> ChipCrc(Bootloader& link, uint16_t start, uint16_t words) {
  link.SendCommand(WIRE_FLASH_CRC);
  link.SendWord(start);
  link.SendWord(words);
  const int waitMs = CrcWaitMs(2 * static_cast<int64_t>(words), link.ReplyPasses() * kPassMs);
  link.WaitForReply(WIRE_CRC_REPLY_BYTES, waitMs / kPassMs);
  const std::string reply = link.Port().Read(WIRE_CRC_REPLY_BYTES);
  if (reply.size() != WIRE_CRC_REPLY_BYTES) return std::nullopt;
  return static_cast<uint16_t>(static_cast<uint8_t>(reply[0]) | (static_cast<uint8_t>(reply[1]) << 8));
}

uint16_t ImageCrc(const ImageBuffers& image, int32_t from, int32_t to) {
  return wire_crc(image.FlashArr.data() + from, static_cast<size_t>(to - from));
}

}  // namespace

Verification VerifyFlash(Bootloader& link, const ImageBuffers& image, const TargetInfo& target) {
  Verification result;
  const int32_t page = 2 * target.BlockSize;
  if (page <= 0) return result;
  const int32_t end = (FlashEndBytes(image.FBytesRead, target.FlashEnd) + page - 1) / page * page;
  // A range differs when its CRC does; none from the chip ends the check.
  auto differs = [&](int32_t from, int32_t to) -> std::optional<bool> {
    ++result.exchanges;
    const auto chip = ChipCrc(link, static_cast<uint16_t>(from / 2), static_cast<uint16_t>((to - from) / 2));
    if (!chip) return std::nullopt;
    return *chip != ImageCrc(image, from, to);
  };
  auto whole = differs(0, end);
  if (!whole) return result;
  if (!*whole) {
    result.outcome = Verification::Outcome::Verified;
    return result;
  }
  // The first differing page: halve the range that holds it until one page is left.
  int32_t lo = 0, hi = end / page;  // in pages; [lo, hi) holds the first difference
  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    const auto left = differs(lo * page, mid * page);
    if (!left) return result;
    if (*left)
      hi = mid;
    else
      lo = mid;
  }
  result.outcome = Verification::Outcome::Differs;
  result.firstDifferingPage = lo * page;
  return result;
}

}  // namespace bm
