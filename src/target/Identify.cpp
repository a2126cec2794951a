// Placeholder: identification and release.
#include "shell/core/Main.h"

namespace bm {

bool Main::GetDevice() { return false; }
void Main::release() { g.COMok = false; }
std::string Main::IntToHex(const std::string&, int) { return "00"; }

}  // namespace bm
