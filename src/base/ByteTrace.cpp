#include "base/ByteTrace.h"

#include "base/HexText.h"

namespace bm {

std::string TraceLine(std::string_view label, std::string_view bytes) {
  std::string line(label);
  if (!bytes.empty()) line += ' ' + HexBytes(bytes);
  return line;
}

std::string TraceText(const std::vector<TraceEntry>& entries, size_t maxEntries) {
  size_t first = 0;
  std::string text;
  if (maxEntries > 0 && entries.size() > maxEntries) {
    first = entries.size() - maxEntries;
    text = "... | ";
  }
  for (size_t i = first; i < entries.size(); ++i) {
    if (i > first) text += " | ";
    text += TraceLine(entries[i].toTarget ? "sent:" : "received:", entries[i].bytes);
  }
  return text;
}

}  // namespace bm
