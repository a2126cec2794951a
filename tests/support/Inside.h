// The engine's state as a test sets it up directly, where a user would have loaded a file or found
// a port, and inspects it afterwards. Fronts read the state through Main's operations only.
#pragma once

#include "shell/core/Main.h"

namespace bm::test {

struct Inside {
  explicit Inside(Main& m)
      : g(m.g), ComPort(m.ComPort), bootloader(m.bootloader), params(m.params), ParaEnable(m.ParaEnable) {}

  Globals& g;
  bm::ComPort& ComPort;
  Bootloader& bootloader;
  dParamList::ParamSet& params;
  bool& ParaEnable;
};

}  // namespace bm::test
