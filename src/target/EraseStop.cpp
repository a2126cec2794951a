// Placeholder: erase and stop.
#include "shell/core/Main.h"

namespace bm {

void Main::EraseBtn_Action() {}
void Main::StopBtn_Action() {}

}  // namespace bm
