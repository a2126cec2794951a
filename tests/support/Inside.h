// The engine's and the presenter's state as a test sets it up directly, where a user would have
// loaded a file or found a port, and inspects it afterwards. Fronts read the state through the
// operations and results only.
#pragma once

#include "shell/core/Engine.h"
#include "shell/core/Presenter.h"

namespace bm::test {

struct Inside {
  explicit Inside(Presenter& p) : Inside(p.engine(), p.Modus, p.ParaEnable) {}
  // An engine without a presenter: `mode` and `ParaEnable` are nobody's.
  explicit Inside(Engine& e) : Inside(e, noMode_, noFlag_) {}

  Globals& g;
  bm::ComPort& ComPort;
  Bootloader& bootloader;
  dParamList::ParamSet& params;
  Mode& mode;        // the presenter's
  bool& ParaEnable;  // the presenter's

 private:
  Inside(Engine& e, Mode& m, bool& para)
      : g(e.g), ComPort(e.ComPort), bootloader(e.bootloader), params(e.params), mode(m), ParaEnable(para) {}
  static inline Mode noMode_ = Mode::None;
  static inline bool noFlag_ = false;
};

}  // namespace bm::test
