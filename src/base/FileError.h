// The file-error report: the one message format in which the readers report a file that cannot
// be found, opened or read. It is a message, not an error: the caller goes on afterwards.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/Dialogs.h"

namespace bm::FileError {

// message [+ " (in class: " + origin + ")"] [+ "\n" + " (file: " + name + ")"]
std::string Text(const std::string& message, const std::string& origin,
                 const std::optional<std::filesystem::path>& file);
// Builds the text and shows it in a message box.
void Constructor(Dialogs& dialogs, const std::string& message, const std::string& origin,
                 const std::optional<std::filesystem::path>& file);

}  // namespace bm::FileError
