#include "base/FileError.h"

namespace bm::FileError {

std::string Text(const std::string& message, const std::string& origin,
                 const std::optional<std::filesystem::path>& file) {
  std::string text = message;
  if (!origin.empty()) text += " (in class: " + origin + ")";
  if (file) text += "\n (file: " + file->filename().string() + ")";
  return text;
}

void Constructor(Diagnostics& found, DiagnosticCode code, const std::string& message,
                 const std::string& origin, const std::optional<std::filesystem::path>& file) {
  found.push_back({DiagnosticKind::Error, code, Text(message, origin, file)});
}

}  // namespace bm::FileError
