// Texts made for a message box may break their lines with CR, LF or CRLF; a terminal line and a
// JSON field take LF only.
#pragma once

#include <string>

namespace bm::cli {

// Every CR, LF or CRLF inside a text as one "\n".
std::string NormalizeLineBreaks(const std::string& text);

}  // namespace bm::cli
