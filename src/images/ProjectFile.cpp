// The project file: its value rules, its line reader, its key lookup and the reading of its keys.
#include "images/ProjectFile.h"

#include <algorithm>

#include "base/HexText.h"
#include "base/RuntimeExceptionPlus.h"
#include "base/Sha256.h"
#include "images/TextFile.h"
#include "protocol/wire.h"

namespace bm::ProjectFile {

std::string ValueText(std::string_view line) {
  const size_t first = line.find('=');
  if (first == std::string_view::npos) return {};
  std::string_view value = line.substr(first + 1);
  const size_t second = value.find('=');
  if (second != std::string_view::npos) value = value.substr(0, second);
  std::string out(value);
  if (!out.empty() && out[0] == '$') out.replace(0, 1, "&h");
  return out;
}

int32_t Val(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i + 1 < text.size() && text[i] == '&' && (text[i + 1] == 'h' || text[i + 1] == 'H')) {
    uint32_t value = 0;
    for (i += 2; i < text.size(); ++i) {
      const int digit = HexDigitValue(text[i]);
      if (digit < 0) break;
      value = value * 16 + static_cast<uint32_t>(digit);  // unsigned: wraps to the low 32 bits
    }
    return static_cast<int32_t>(value);
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT64_C(0x80000000)) value = INT64_C(0x80000000);  // clamp, never overflow
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

std::string ReplaceFirstNoCase(std::string_view path, std::string_view from, std::string_view to) {
  std::string out(path);
  const size_t at = TextFile::FindNoCase(path, from);
  if (at != std::string_view::npos) out.replace(at, from.size(), to);
  return out;
}

FileSeen loader(const std::string& path, LineBuffer& st, EventLoop& loop) {
  st.clear();
  const std::optional<std::filesystem::path> file = TextFile::Resolve(path);
  std::optional<std::string> text;
  if (file) text = TextFile::ReadAll(*file);
  if (!text) throw RuntimeError("Cannot open the project file: " + path);
  FileSeen seen{*file, text->size(), Sha256Hex(*text)};
  st.Assign(std::move(*text), [&] { loop.yield(); });
  return seen;
}

std::string readINI(const LineBuffer& st, std::string_view key, const std::string& defaultValue,
                    EventLoop& loop) {
  for (std::string_view line : st) {
    if (!line.empty() && TextFile::StartsWithNoCase(line, key)) return ValueText(line);
    loop.yield();
  }
  return defaultValue;
}

ProjectKeys ReadProject(const std::string& path, LineBuffer& st, EventLoop& loop) {
  ProjectKeys keys;
  keys.seen = loader(path, st, loop);
  keys.OrgID = Val(readINI(st, "DeviceID", "1", loop));
  keys.CPUname = readINI(st, "CPUname", "---", loop);
  keys.OrgBootID = Val(readINI(st, "BootLoaderID", "0", loop));
  keys.OrgEEpEnd = Val(readINI(st, "EEpromMax", "0", loop));
  // A key that is present but empty still names a rate (0, which the load reports as unusable).
  const std::string absent(1, '\0');
  keys.BaudRateText = readINI(st, "BaudRate", absent, loop);
  keys.namesBaudRate = keys.BaudRateText != absent;
  if (!keys.namesBaudRate) keys.BaudRateText = std::to_string(WIRE_DEFAULT_BAUD);
  keys.BaudRate = Val(keys.BaudRateText);
  keys.WaitAfterOpenMs = std::max(Val(readINI(st, "WaitAfterOpen", "0", loop)), 0);
  keys.flashPath = ReplaceFirstNoCase(path, ".ppro", ".hex");
  keys.eepromPath = ReplaceFirstNoCase(keys.flashPath, ".hex", ".eep");
  return keys;
}

}  // namespace bm::ProjectFile
