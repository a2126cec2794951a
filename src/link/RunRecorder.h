// What the download and erase runs share while they run: the failure rule and the result.
#pragma once

#include "link/Run.h"

namespace bm {

class RunRecorder {
 public:
  RunRecorder(Bootloader& link, RunObserver& observer) : link_(link), observer_(observer) {}

  // Records a numbered failure and tells the observer. Returns whether the run goes on: only
  // where the sequence allows it (`mayContinue`), only while the port is still open, and never
  // after a quit. Otherwise the result says how the run ended.
  bool Fail(Failure failure, bool mayContinue);

  const RunResult& Result() const { return result_; }

 private:
  Bootloader& link_;
  RunObserver& observer_;
  RunResult result_;
};

}  // namespace bm
