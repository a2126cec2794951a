#include "link/Run.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "link/RunRecorder.h"
#include "protocol/wire.h"

namespace bm {

int32_t FlashEndBytes(int32_t imageBytes, int32_t flashWords) {
  return imageBytes / 2.0 < flashWords ? imageBytes : 2 * flashWords;
}

bool HasFlashToWrite(const ImageBuffers& image, const TargetInfo& target) {
  return target.BlockSize > 0 && 2 * target.BlockSize <= WIRE_BLOCK_BUFFER_BYTES &&
         target.FlashEnd >= target.BlockSize && FlashEndBytes(image.FBytesRead, target.FlashEnd) > 0;
}

int32_t EepromEnd(const ImageBuffers& image, int32_t limit) {
  const int32_t end = limit <= 0 ? image.EBytesRead : std::min(image.EBytesRead, limit);
  return std::max(end, 0);
}

int Percent(int64_t done, int64_t end) {
  if (end <= 0) return 100;
  return static_cast<int>(std::lround(100.0 * static_cast<double>(done) / static_cast<double>(end)));
}

std::optional<std::string> FlashFitProblem(int32_t imageBytes, int32_t flashWords) {
  const int64_t flashBytes = 2 * static_cast<int64_t>(flashWords);
  if (imageBytes <= flashBytes) return std::nullopt;
  return "The flash image (" + std::to_string(imageBytes) + " bytes) is larger than the target's flash (" +
         std::to_string(flashBytes) + " bytes).\nNothing was written.";
}

bool RunRecorder::Fail(Failure failure, bool mayContinue) {
  // A run the user stopped or quit ends here: its failed reply check is the user's doing, not
  // the target's, so it is neither counted nor reported.
  if (link_.Interrupted() == Interruption::Quit) return End(RunEnd::Quit);
  if (link_.Interrupted() == Interruption::Stop) return End(RunEnd::Stopped);
  result_.failures.push_back(failure);
  const bool open = link_.Port().IsOpen();
  observer_.OnFailure(failure, mayContinue && open);
  if (mayContinue && open) return true;
  return End(open ? RunEnd::Failed : RunEnd::PortLost);
}

}  // namespace bm
