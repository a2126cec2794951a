// The erase run: "A" and "E" for each page the flash image covers.
#include "link/Run.h"
#include "link/RunRecorder.h"
#include "protocol/wire.h"

namespace bm {

RunResult Erase(Bootloader& link, const ImageBuffers& image, const RunLimits& limits, RunObserver& observer) {
  RunRecorder run(link, observer);
  // Without a flash image there is no page to erase: page 0 holds the vector table.
  if (!HasFlashToWrite(image, limits.target)) return run.Result();
  observer.OnPhase(Phase::Erase);
  const int32_t end = FlashEndBytes(image.FBytesRead, limits.target.FlashEnd);
  const int pageBytes = 2 * limits.target.BlockSize;
  int32_t address = 0;
  do {
    link.SendCommand(WIRE_SET_ADDRESS);
    link.SendWord(static_cast<uint16_t>(address >> 1));
    if (!link.Acknowledged()) {
      run.Fail(Failure::EraseAddressNotAcknowledged, false);
      return run.Result();
    }
    link.SendCommand(WIRE_ERASE_PAGE);
    if (!link.EraseAcknowledged() && !run.Fail(Failure::ErasePageNotAcknowledged, address == 0))
      return run.Result();
    address += pageBytes;
    observer.OnProgress(Percent(address, end), address, end);
    link.Yield();
  } while (address < end);
  return run.Result();
}

}  // namespace bm
