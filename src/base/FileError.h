// The file-error report: the one message format in which the readers report a file that cannot
// be found, opened or read. It is a finding, not an exception: the caller goes on afterwards.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "base/Diagnostic.h"

namespace bm::FileError {

// message [+ " (in class: " + origin + ")"] [+ "\n" + " (file: " + name + ")"]
std::string Text(const std::string& message, const std::string& origin,
                 const std::optional<std::filesystem::path>& file);
// The report as an error finding with `code`, appended to `found`.
void Constructor(Diagnostics& found, DiagnosticCode code, const std::string& message,
                 const std::string& origin, const std::optional<std::filesystem::path>& file);

}  // namespace bm::FileError
