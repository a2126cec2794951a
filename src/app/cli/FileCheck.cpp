#include "app/cli/FileCheck.h"

#include <filesystem>

#include "app/cli/System.h"
#include "base/FileOpen.h"
#include "images/TextFile.h"

namespace bm::cli {

namespace {

std::string MiB(uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB"; }

// A file far larger than any image is refused before a byte of it is read: reading it would
// take seconds to minutes, or end in an allocation failure.
std::optional<std::string> WhyTooLarge(const std::string& file, uint64_t bytes, bool named) {
  if (bytes <= kMaxFileBytes) return std::nullopt;
  return std::string(named ? "" : "its " + NameFromPath(PathFromName(file).filename()) + " ") + "is " +
         MiB(bytes) + ", larger than any image can be (at most " + MiB(kMaxFileBytes) + "); nothing was read";
}

}  // namespace

std::optional<std::string> WhyNotLoadable(const std::string& file) {
  const FileFacts facts = FactsOf(file);
  switch (facts.kind) {
    case FileFacts::Kind::Missing:
      return "no such file";
    case FileFacts::Kind::Denied:
      return "permission denied";
    case FileFacts::Kind::Directory:
      return "is a directory";
    case FileFacts::Kind::NotRegular:
      return "is not a regular file (a pipe, a device or a socket)";
    case FileFacts::Kind::Unknown:
      return facts.error;
    case FileFacts::Kind::Regular:
      break;
  }
  if (!MayRead(file)) return "permission denied";
  if (auto why = WhyTooLarge(file, facts.bytes, true)) return why;
  // A project reads the .hex and .eep beside it.
  if (TextFile::EndsWithNoCase(file, ".ppro")) {
    for (const char* ext : {".hex", ".eep"}) {
      const std::string image = NameFromPath(PathFromName(file).replace_extension(ext));
      const FileFacts imageFacts = FactsOf(image);
      if (imageFacts.kind != FileFacts::Kind::Regular) continue;
      if (auto why = WhyTooLarge(image, imageFacts.bytes, false)) return why;
    }
  }
  return std::nullopt;
}

std::optional<std::string> WhyNoLogs(const std::string& dir) {
  const std::filesystem::path path = PathFromName(dir);
  std::error_code ec;
  if (std::filesystem::exists(path, ec) && !std::filesystem::is_directory(path, ec)) return "not a directory";
  std::filesystem::create_directories(path, ec);
  if (ec) return ec.message();
  return WhyNotWritable(dir);
}
std::optional<std::string> LogDirRefusal(const std::string& command, const std::optional<std::string>& dir) {
  if (!dir) return std::nullopt;
  const std::optional<std::string> why = WhyNoLogs(*dir);
  if (!why) return std::nullopt;
  return command + ": cannot keep logs in '" + *dir + "': " + *why;
}

}  // namespace bm::cli
