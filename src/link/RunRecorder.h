// What the download and erase runs share while they run: the failure rule and the result.
#pragma once

#include "link/Run.h"

namespace bm {

class RunRecorder {
 public:
  RunRecorder(Bootloader& link, RunObserver& observer) : link_(link), observer_(observer) {}

  // Records a numbered failure and tells the observer. Returns whether the run goes on: only
  // where the sequence allows it (`mayContinue`) and only while the port is still open.
  // Otherwise the result says how the run ended. After Stop or a quit nothing is recorded: the
  // run just ends as the user asked.
  bool Fail(Failure failure, bool mayContinue);

  const RunResult& Result() const { return result_; }
  void CountPage(bool written) { ++(written ? result_.pagesWritten : result_.pagesSkipped); }
  void EepromUnchanged() { result_.eepromUnchanged = true; }

 private:
  bool End(RunEnd end) {
    result_.end = end;
    return false;
  }

  Bootloader& link_;
  RunObserver& observer_;
  RunResult result_;
};

}  // namespace bm
