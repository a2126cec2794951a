// The download run: the flash page by page ("A", "E", "D", "P"), then the EEPROM byte by byte
// ("B"), with progress and the numbered failures.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "link/Run.h"
#include "link/RunRecorder.h"
#include "protocol/wire.h"

namespace bm {
namespace {

// One page: "A", "E", and for a page with data "D" and "P". Returns false when the phase ended.
bool WritePage(Bootloader& link, const ImageBuffers& image, int32_t address, int blockBytes,
               std::array<uint8_t, WIRE_BLOCK_BUFFER_BYTES>& block, RunRecorder& run) {
  std::copy_n(image.FlashArr.begin() + address, blockBytes, block.begin());
  const bool hasData =
      std::any_of(block.begin(), block.begin() + blockBytes, [](uint8_t b) { return b != 0xFF; });
  const bool first = address == 0;

  link.SendCommand(WIRE_SET_ADDRESS);
  link.SendWord(static_cast<uint16_t>(address >> 1));
  if (!link.Acknowledged()) return run.Fail(Failure::AddressNotAcknowledged, false);
  link.SendCommand(WIRE_ERASE_PAGE);
  if (!link.Acknowledged() && !run.Fail(Failure::EraseNotAcknowledged, first)) return false;
  if (!hasData) return true;

  link.SendCommand(WIRE_LOAD_PAGE);
  link.Port().Flush();
  uint8_t checksum = 0;
  link.BeginCommand();
  for (int i = 0; i < blockBytes && link.Port().IsOpen(); ++i) {
    // One byte at a time at the pace of the line: the loader has no receive buffer to spare.
    link.SendByte(block[i]);
    link.Port().XmitWait();
    link.Yield();
    checksum = static_cast<uint8_t>(checksum + block[i]);
  }
  // The checksum's reply window starts only once the whole page has left.
  link.Port().Drain();
  link.EndCommand();  // a Stop that came during the data leaves now
  if (!link.ReplyIs(checksum)) return run.Fail(Failure::ChecksumMismatch, false);
  link.SendCommand(WIRE_PROGRAM_PAGE);
  if (!link.Acknowledged() && !run.Fail(Failure::ProgramNotAcknowledged, first)) return false;
  return true;
}

// The pages a skipping download must touch, one flag per page from 0 to the image end (all
// when it writes every page), and whether the last page of the flash needs its erase. A
// loader that does not answer the checks gets every page written, as without skipping.
struct PagesToTouch {
  std::vector<bool> page;
  bool lastPage = true;
  bool checked = false;  // the flags rest on the chip's checks (pages left alone match the image)
};

PagesToTouch ChoosePages(Bootloader& link, const ImageBuffers& image, const RunLimits& limits, int32_t end) {
  const TargetInfo& target = limits.target;
  const int32_t blockBytes = 2 * target.BlockSize;
  PagesToTouch touch{std::vector<bool>(static_cast<size_t>((end + blockBytes - 1) / blockBytes), true)};
  if (!limits.skipUnchanged || !HasBlockChecks(target)) return touch;
  const auto differ = PagesThatDiffer(link, image, target, end);
  if (!differ) return touch;
  touch.page = *differ;
  touch.checked = true;
  // A full download erases the flash's last page first: beyond the image it stays erased, within
  // it the page is written again, so a page left alone must not be erased either.
  const int32_t lastPage = 2 * (target.FlashEnd - target.BlockSize);
  touch.lastPage = lastPage >= end ? PageHoldsData(link, target, lastPage).value_or(true)
                                   : touch.page[static_cast<size_t>(lastPage / blockBytes)];
  return touch;
}

// Returns false when the phase ended with a failure.
bool FlashPhase(Bootloader& link, const ImageBuffers& image, const RunLimits& limits, RunObserver& observer,
                RunRecorder& run, PagesToTouch& touch) {
  const TargetInfo& target = limits.target;
  const int32_t end = FlashEndBytes(image.FBytesRead, target.FlashEnd);
  touch = ChoosePages(link, image, limits, end);
  observer.OnPhase(Phase::Flash);

  if (touch.lastPage) {
    // The last page first: FlashEnd − BlockSize is already a word address.
    link.SendCommand(WIRE_SET_ADDRESS);
    link.SendWord(static_cast<uint16_t>(target.FlashEnd - target.BlockSize));
    if (!link.Acknowledged()) return run.Fail(Failure::LastPageAddressNotAcknowledged, false);
    link.SendCommand(WIRE_ERASE_PAGE);
    if (!link.Acknowledged()) return run.Fail(Failure::LastPageEraseNotAcknowledged, false);
  }

  const int blockBytes = 2 * target.BlockSize;
  std::array<uint8_t, WIRE_BLOCK_BUFFER_BYTES> block{};
  int32_t address = 0;
  do {
    const bool changes = touch.page[static_cast<size_t>(address / blockBytes)];
    run.CountPage(changes);
    if (changes && !WritePage(link, image, address, blockBytes, block, run)) return false;
    address += blockBytes;
    observer.OnProgress(Percent(address, end), address, end);
    link.Yield();
  } while (address < end);
  return true;
}

bool EepromPhase(Bootloader& link, const ImageBuffers& image, int32_t limit, RunObserver& observer,
                 RunRecorder& run) {
  observer.OnPhase(Phase::Eeprom);
  const int32_t end = EepromEnd(image, limit);
  int32_t address = 0;
  do {
    link.SendCommand(WIRE_WRITE_EEPROM);
    link.SendWord(static_cast<uint16_t>(address));
    link.Port().Flush();
    link.SendByte(image.EEpromArr.at(static_cast<size_t>(address)));
    if (!link.Acknowledged()) return run.Fail(Failure::EepromNotAcknowledged, false);
    ++address;
    observer.OnProgress(Percent(address, end), address, end);
    link.Yield();
  } while (address < end);
  return true;
}

// Whether a loader with block checks already holds the EEPROM image, every block of it.
bool EepromHeld(Bootloader& link, const ImageBuffers& image, const RunLimits& limits) {
  if (!HasBlockChecks(limits.target)) return false;
  const Verification held = Verify(link, image, limits.target, 0, EepromEnd(image, limits.eepromEnd));
  return held.outcome == Verification::Outcome::Verified;
}

}  // namespace

RunResult Download(Bootloader& link, const ImageBuffers& image, const RunLimits& limits,
                   RunObserver& observer) {
  RunRecorder run(link, observer);
  // A phase with nothing to write is not run at all: an empty flash image would still erase the
  // last page and page 0 (the vector table), an empty EEPROM image would still write byte 0.
  const bool flash = HasFlashToWrite(image, limits.target) && limits.Wanted(Phase::Flash);
  PagesToTouch touch;
  if (flash && !FlashPhase(link, image, limits, observer, run, touch)) return run.Result();
  const bool eeprom = EepromEnd(image, limits.eepromEnd) > 0 && limits.Wanted(Phase::Eeprom);
  if (eeprom && limits.skipUnchanged && EepromHeld(link, image, limits)) {
    run.EepromUnchanged();
  } else if (eeprom && !EepromPhase(link, image, limits.eepromEnd, observer, run)) {
    return run.Result();
  }
  RunResult result = run.Result();
  // What the phases wrote; the EEPROM only where the loader checks blocks. What the checks before
  // the run found the chip to hold already is not checked a second time.
  const int32_t checkFlash = flash ? image.FBytesRead : 0;
  const int32_t checkEeprom =
      eeprom && HasBlockChecks(limits.target) ? EepromEnd(image, limits.eepromEnd) : 0;
  if (limits.verify && result.Clean() && link.Port().IsOpen() && (checkFlash > 0 || checkEeprom > 0)) {
    result.verification =
        Verify(link, image, limits.target, checkFlash, result.eepromUnchanged ? 0 : checkEeprom,
               touch.checked ? &touch.page : nullptr);
    if (result.eepromUnchanged && result.verification->outcome == Verification::Outcome::Verified)
      result.verification->eeprom = true;
  }
  return result;
}

}  // namespace bm
