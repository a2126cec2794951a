#include "platform/posix/ReceivingLines.h"

#include <algorithm>

namespace bm::posix {
namespace {

std::vector<ReceivingLine>& Lines() {
  static std::vector<ReceivingLine> lines;
  return lines;
}

std::function<void(int)>& RemovedHook() {
  static std::function<void(int)> hook;
  return hook;
}

}  // namespace

void AddReceivingLine(int fd, std::function<void()> pull) {
  RemoveReceivingLine(fd);
  Lines().push_back({fd, std::move(pull)});
}

void RemoveReceivingLine(int fd) {
  if (RemovedHook()) RemovedHook()(fd);
  auto& lines = Lines();
  lines.erase(std::remove_if(lines.begin(), lines.end(), [fd](const ReceivingLine& l) { return l.fd == fd; }),
              lines.end());
}

std::vector<ReceivingLine> ReceivingLines() { return Lines(); }

void SetLineRemovedHook(std::function<void(int fd)> hook) { RemovedHook() = std::move(hook); }

}  // namespace bm::posix
