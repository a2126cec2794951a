#include "link/Run.h"

#include <cmath>

#include "link/RunRecorder.h"

namespace bm {

int32_t FlashEndBytes(int32_t imageBytes, int32_t flashWords) {
  return imageBytes / 2.0 < flashWords ? imageBytes : 2 * flashWords;
}

int Percent(int64_t done, int64_t end) {
  if (end <= 0) return 100;
  return static_cast<int>(std::lround(100.0 * static_cast<double>(done) / static_cast<double>(end)));
}

bool RunRecorder::Fail(Failure failure, bool mayContinue) {
  result_.failures.push_back(failure);
  observer_.OnFailure(failure, mayContinue && link_.Port().IsOpen());
  if (mayContinue && link_.Port().IsOpen() && link_.Interrupted() != Interruption::Quit) return true;
  if (link_.Interrupted() == Interruption::Quit)
    result_.end = RunEnd::Quit;
  else if (link_.Interrupted() == Interruption::Stop)
    result_.end = RunEnd::Stopped;
  else if (!link_.Port().IsOpen())
    result_.end = RunEnd::PortLost;
  else
    result_.end = RunEnd::Failed;
  return false;
}

}  // namespace bm
