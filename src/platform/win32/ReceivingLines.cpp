#include "platform/win32/ReceivingLines.h"

#include <algorithm>

namespace bm::win32 {
namespace {

std::vector<ReceivingLine>& Lines() {
  static std::vector<ReceivingLine> lines;
  return lines;
}

}  // namespace

void AddReceivingLine(void* event, std::function<void()> pull) {
  RemoveReceivingLine(event);
  Lines().push_back({event, std::move(pull)});
}

void RemoveReceivingLine(void* event) {
  auto& lines = Lines();
  lines.erase(std::remove_if(lines.begin(), lines.end(),
                             [event](const ReceivingLine& l) { return l.event == event; }),
              lines.end());
}

std::vector<ReceivingLine> ReceivingLines() { return Lines(); }

}  // namespace bm::win32
