#include "base/Util.h"

namespace bm::Util {

bool IsValidHex(std::string_view text) {
  if (text.size() >= 2 && text[0] == '&' && (text[1] == 'h' || text[1] == 'H')) text.remove_prefix(2);
  for (char c : text) {
    const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!digit) return false;
  }
  return true;
}

}  // namespace bm::Util
