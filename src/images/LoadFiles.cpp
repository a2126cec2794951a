// Placeholder: the loading step (FOpenBtn_Action, LoadFiles) lands with the readers.
#include "shell/core/Main.h"

namespace bm {

void Main::FOpenBtn_Action() {}
void Main::LoadFiles() {}

}  // namespace bm
