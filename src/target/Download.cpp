// Placeholder: the download sequence.
#include "shell/core/Main.h"

namespace bm {

void Main::DownLdBtn_Action() {}

}  // namespace bm
