#include "base/RuntimeExceptionPlus.h"

#include <utility>

namespace bm::RuntimeExceptionPlus {
namespace {

// Program-wide trail store. Entries hold the error object alive; errors are rare, so the store
// stays small.
std::vector<std::pair<std::exception_ptr, std::string>>& excStacks() {
  static std::vector<std::pair<std::exception_ptr, std::string>> store;
  return store;
}

std::string* Find(const std::exception_ptr& error) {
  for (auto& [key, text] : excStacks())
    if (key == error) return &text;
  return nullptr;
}

}  // namespace

void Cascade(std::exception_ptr error, std::string_view location) {
  std::string trail = stackTrace(error);
  trail += '\n';
  trail += location;
  setStackTrace(error, std::move(trail));
  std::rethrow_exception(error);
}

std::string stackTrace(std::exception_ptr error) {
  const std::string* text = Find(error);
  return text ? *text : std::string();
}

void setStackTrace(std::exception_ptr error, std::string text) {
  if (std::string* existing = Find(error)) {
    *existing = std::move(text);
    return;
  }
  excStacks().emplace_back(std::move(error), std::move(text));
}

std::vector<std::string> Locations(std::exception_ptr error) {
  std::vector<std::string> out;
  const std::string trail = stackTrace(error);
  size_t pos = 0;
  while (pos < trail.size()) {
    const size_t start = trail[pos] == '\n' ? pos + 1 : pos;
    size_t end = trail.find('\n', start);
    if (end == std::string::npos) end = trail.size();
    out.push_back(trail.substr(start, end - start));
    pos = end;
  }
  return out;
}

std::string Message(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace bm::RuntimeExceptionPlus
