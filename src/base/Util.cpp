#include "base/Util.h"

#include "base/HexText.h"

namespace bm::Util {

bool IsValidHex(std::string_view text) {
  if (text.size() >= 2 && text[0] == '&' && (text[1] == 'h' || text[1] == 'H')) text.remove_prefix(2);
  for (char c : text)
    if (HexDigitValue(c) < 0) return false;
  return true;
}

}  // namespace bm::Util
