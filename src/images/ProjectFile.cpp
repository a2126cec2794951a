// Placeholder: the project-file line reader and key lookup.
#include "shell/core/Main.h"

namespace bm {

void Main::loader(const std::string&) {}
std::string Main::readINI(std::string_view, const std::string& defaultValue) { return defaultValue; }

}  // namespace bm
