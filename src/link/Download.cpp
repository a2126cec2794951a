// The download run: the flash page by page ("A", "E", "D", "P"), then the EEPROM byte by byte
// ("B"), with progress and the numbered failures.
#include <algorithm>
#include <array>
#include <cstdint>

#include "link/Run.h"
#include "link/RunRecorder.h"
#include "protocol/wire.h"

namespace bm {
namespace {

// Returns false when the phase ended with a failure.
bool FlashPhase(Bootloader& link, const ImageBuffers& image, const TargetInfo& target, RunObserver& observer,
                RunRecorder& run) {
  observer.OnPhase(Phase::Flash);

  // The last page first: FlashEnd − BlockSize is already a word address.
  link.SendCommand(WIRE_SET_ADDRESS);
  link.SendWord(static_cast<uint16_t>(target.FlashEnd - target.BlockSize));
  if (!link.Acknowledged()) return run.Fail(Failure::LastPageAddressNotAcknowledged, false);
  link.SendCommand(WIRE_ERASE_PAGE);
  if (!link.Acknowledged()) return run.Fail(Failure::LastPageEraseNotAcknowledged, false);

  const int32_t end = FlashEndBytes(image.FBytesRead, target.FlashEnd);
  const int blockBytes = 2 * target.BlockSize;
  std::array<uint8_t, WIRE_BLOCK_BUFFER_BYTES> block{};
  int32_t address = 0;
  do {
    std::copy_n(image.FlashArr.begin() + address, blockBytes, block.begin());
    const bool hasData =
        std::any_of(block.begin(), block.begin() + blockBytes, [](uint8_t b) { return b != 0xFF; });
    const bool first = address == 0;

    link.SendCommand(WIRE_SET_ADDRESS);
    link.SendWord(static_cast<uint16_t>(address >> 1));
    if (!link.Acknowledged()) return run.Fail(Failure::AddressNotAcknowledged, false);
    link.SendCommand(WIRE_ERASE_PAGE);
    if (!link.Acknowledged() && !run.Fail(Failure::EraseNotAcknowledged, first)) return false;

    if (hasData) {
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
    }

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

}  // namespace

RunResult Download(Bootloader& link, const ImageBuffers& image, const RunLimits& limits,
                   RunObserver& observer) {
  RunRecorder run(link, observer);
  // A phase with nothing to write is not run at all: an empty flash image would still erase the
  // last page and page 0 (the vector table), an empty EEPROM image would still write byte 0.
  const bool flash = HasFlashToWrite(image, limits.target) && limits.Wanted(Phase::Flash);
  if (flash && !FlashPhase(link, image, limits.target, observer, run)) return run.Result();
  const bool eeprom = EepromEnd(image, limits.eepromEnd) > 0 && limits.Wanted(Phase::Eeprom);
  if (eeprom && !EepromPhase(link, image, limits.eepromEnd, observer, run)) return run.Result();
  RunResult result = run.Result();
  if (flash && limits.verify && result.Clean() && link.Port().IsOpen())
    result.verification = VerifyFlash(link, image, limits.target);
  return result;
}

}  // namespace bm
