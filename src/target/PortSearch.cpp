// Placeholder: baud selection, COMwait, CheckComPort and the port search.
#include "shell/core/Main.h"

namespace bm {

void Main::BaudSelect_Change(int) {}
void Main::UpdateComSettings(int) {}
void Main::COMwait(int) {}
void Main::CheckComPort() {}
void Main::ComportBtn_Action() {}

}  // namespace bm
