#include "link/Verify.h"

#include <algorithm>
#include <functional>

#include "link/Run.h"
#include "protocol/crc.h"
#include "protocol/wire.h"

namespace bm {
namespace {

bool OfOurFamily(const TargetInfo& target) {
  return target.LoaderIds && (*target.LoaderIds)[1] == WIRE_FAMILY_ID;
}

uint32_t Capabilities(const TargetInfo& target) { return OfOurFamily(target) ? (*target.LoaderIds)[3] : 0; }

// A reply of `count` bytes, low byte first, within `waitMs`; none when it did not come whole.
std::optional<uint32_t> ReplyNumber(Bootloader& link, int count, int waitMs) {
  link.WaitForReply(count, waitMs / kPassMs);
  const std::string reply = link.Port().Read(count);
  if (static_cast<int>(reply.size()) != count) return std::nullopt;
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i)
    value = value << 8 | static_cast<uint8_t>(reply[static_cast<size_t>(i)]);
  return value;
}

int ReplyWindowMs(Bootloader& link) { return link.ReplyPasses() * kPassMs; }

// The chip's CRC-16 of the flash bytes [from, to) (the first version's "C").
std::optional<uint32_t> ChipCrc16(Bootloader& link, int32_t from, int32_t to) {
  link.SendCommand(WIRE_FLASH_CRC);
  link.SendWord(static_cast<uint16_t>(from / 2));
  link.SendWord(static_cast<uint16_t>((to - from) / 2));
  return ReplyNumber(link, WIRE_CRC_REPLY_BYTES, CrcWaitMs(to - from, ReplyWindowMs(link)));
}

// The chip's CRC-32 of the flash or EEPROM bytes [from, to), at most a block.
std::optional<uint32_t> ChipCrc32(Bootloader& link, bool eeprom, int32_t from, int32_t to) {
  link.SendCommand(eeprom ? WIRE_EEPROM_CRC32 : WIRE_FLASH_CRC32);
  link.SendWord(static_cast<uint16_t>(eeprom ? from : from / 2));
  link.SendWord(static_cast<uint16_t>(to - from));
  const int waitMs = ReplyWindowMs(link) + static_cast<int>((to - from) / kCrc32BytesPerMs);
  return ReplyNumber(link, WIRE_CRC32_REPLY_BYTES, waitMs);
}

uint32_t ImageCrc32(const std::vector<uint8_t>& bytes, int32_t from, int32_t to) {
  return wire_crc32(bytes.data() + from, static_cast<size_t>(to - from));
}

// Whether [from, to) differs between chip and image; none when the chip did not answer.
using Differs = std::function<std::optional<bool>(int32_t from, int32_t to)>;

// The first unit (of `unit` bytes) in [from, to), a range known to differ, that differs: the
// range is halved until one unit is left. None when the chip stopped answering.
std::optional<int32_t> FirstDiffering(const Differs& differs, int32_t from, int32_t to, int32_t unit) {
  int32_t lo = from / unit, hi = (to + unit - 1) / unit;  // in units; [lo, hi) holds the first difference
  while (hi - lo > 1) {
    const int32_t mid = lo + (hi - lo) / 2;
    const auto left = differs(lo * unit, mid * unit);
    if (!left) return std::nullopt;
    if (*left)
      hi = mid;
    else
      lo = mid;
  }
  return lo * unit;
}

int32_t RoundUp(int32_t bytes, int32_t unit) { return (bytes + unit - 1) / unit * unit; }

// The first-version check: one CRC-16 over the whole flash range, then halves.
void VerifyWithCrc16(Bootloader& link, const ImageBuffers& image, int32_t end, int32_t page,
                     Verification& result) {
  result.checkBits = 16;
  const Differs differs = [&](int32_t from, int32_t to) -> std::optional<bool> {
    ++result.exchanges;
    const auto chip = ChipCrc16(link, from, to);
    if (!chip) return std::nullopt;
    return *chip != wire_crc(image.FlashArr.data() + from, static_cast<size_t>(to - from));
  };
  const auto whole = differs(0, end);
  if (!whole) return;
  result.flash = true;
  if (!*whole) {
    result.outcome = Verification::Outcome::Verified;
    return;
  }
  if (const auto at = FirstDiffering(differs, 0, end, page)) {
    result.outcome = Verification::Outcome::Differs;
    result.firstDifferingPage = *at;
  }
}

// Block by block over [0, end) of one memory. Returns false when the check ended the verification
// (no answer, or a difference, which `firstDiffering` then holds).
bool CheckBlocks(Bootloader& link, bool eeprom, const std::vector<uint8_t>& bytes, int32_t end, int32_t unit,
                 Verification& result, int32_t& firstDiffering,
                 const std::vector<bool>* rewritten = nullptr) {
  const Differs differs = [&](int32_t from, int32_t to) -> std::optional<bool> {
    ++result.exchanges;
    const auto chip = ChipCrc32(link, eeprom, from, to);
    if (!chip) return std::nullopt;
    return *chip != ImageCrc32(bytes, from, to);
  };
  for (int32_t from = 0; from < end; from += WIRE_CRC32_BLOCK_BYTES) {
    const int32_t to = std::min(end, from + WIRE_CRC32_BLOCK_BYTES);
    if (rewritten) {
      bool written = false;
      for (int32_t at = from; at < to; at += unit)
        written = written || rewritten->at(static_cast<size_t>(at / unit));
      if (!written) continue;
    }
    const auto block = differs(from, to);
    if (!block) return false;
    if (!*block) continue;
    const auto at = FirstDiffering(differs, from, to, unit);
    if (!at) return false;
    result.outcome = Verification::Outcome::Differs;
    firstDiffering = *at;
    return false;
  }
  return true;
}

}  // namespace

bool CanVerify(const TargetInfo& target) {
  return (Capabilities(target) & (WIRE_CAPABILITY_FLASH_CRC | WIRE_CAPABILITY_CRC32)) != 0;
}

bool HasBlockChecks(const TargetInfo& target) { return (Capabilities(target) & WIRE_CAPABILITY_CRC32) != 0; }

int CrcWaitMs(int64_t bytes, int replyWindowMs) {
  return static_cast<int>(replyWindowMs + bytes / kCrcBytesPerMs);
}

std::string Verification::What() const {
  if (flash && eeprom) return "flash and EEPROM";
  return eeprom ? "EEPROM" : "flash";
}

Verification Verify(Bootloader& link, const ImageBuffers& image, const TargetInfo& target, int32_t flashEnd,
                    int32_t eepromEnd, const std::vector<bool>* rewritten) {
  Verification result;
  const int32_t page = 2 * target.BlockSize;
  if (page <= 0) return result;
  const int32_t end = flashEnd > 0 ? RoundUp(FlashEndBytes(flashEnd, target.FlashEnd), page) : 0;
  if (!HasBlockChecks(target)) {
    if (end > 0) VerifyWithCrc16(link, image, end, page, result);
    return result;
  }
  if (end > 0) {
    if (!CheckBlocks(link, false, image.FlashArr, end, page, result, result.firstDifferingPage, rewritten))
      return result;
    result.flash = true;
  }
  if (eepromEnd > 0) {
    if (!CheckBlocks(link, true, image.EEpromArr, eepromEnd, 1, result, result.firstDifferingEepromByte))
      return result;
    result.eeprom = true;
  }
  result.outcome = Verification::Outcome::Verified;
  return result;
}

std::optional<std::vector<bool>> PagesThatDiffer(Bootloader& link, const ImageBuffers& image,
                                                 const TargetInfo& target, int32_t flashEnd) {
  const int32_t page = 2 * target.BlockSize;
  if (page <= 0) return std::nullopt;
  const int32_t end = RoundUp(FlashEndBytes(flashEnd, target.FlashEnd), page);
  std::vector<bool> differ(static_cast<size_t>(end / page), false);
  auto differs = [&](int32_t from, int32_t to) -> std::optional<bool> {
    const auto chip = ChipCrc32(link, false, from, to);
    if (!chip) return std::nullopt;
    return *chip != ImageCrc32(image.FlashArr, from, to);
  };
  // Blocks are whole pages: a page never straddles two.
  const int32_t block = std::max(page, WIRE_CRC32_BLOCK_BYTES / page * page);
  for (int32_t from = 0; from < end; from += block) {
    const int32_t to = std::min(end, from + block);
    const auto blockDiffers = differs(from, to);
    if (!blockDiffers) return std::nullopt;
    if (!*blockDiffers) continue;
    int differing = 0;
    for (int32_t at = from; at < to; at += page) {
      const auto pageDiffers = to - from == page ? blockDiffers : differs(at, at + page);
      if (!pageDiffers) return std::nullopt;
      differ[static_cast<size_t>(at / page)] = *pageDiffers;
      differing += *pageDiffers;
    }
    // Most pages of a block differ: another program. Its other pages are written without asking
    // (writing a page the chip holds harms nothing; asking for each would cost more than it saves).
    if (2 * differing > (to - from) / page) {
      std::fill(differ.begin() + to / page, differ.end(), true);
      break;
    }
  }
  return differ;
}

std::optional<bool> PageHoldsData(Bootloader& link, const TargetInfo& target, int32_t at) {
  const int32_t page = 2 * target.BlockSize;
  const auto chip = ChipCrc32(link, false, at, at + page);
  if (!chip) return std::nullopt;
  const std::vector<uint8_t> blank(static_cast<size_t>(page), 0xFF);
  return *chip != wire_crc32(blank.data(), blank.size());
}

}  // namespace bm
