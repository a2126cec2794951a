// The project file: its line reader, its key lookup and the project branch of the loading step.
#include "images/ProjectFile.h"

#include "images/TextFile.h"
#include "images/UHexLoad.h"
#include "shell/core/Main.h"
#include "shell/core/RuntimeExceptionPlus.h"

namespace bm {
namespace ProjectFile {

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
      const char c = text[i];
      int digit = -1;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
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

std::string Hex(int32_t value) {
  static const char kDigits[] = "0123456789ABCDEF";
  uint32_t v = static_cast<uint32_t>(value);
  std::string out;
  do {
    out.insert(out.begin(), kDigits[v & 0xF]);
    v >>= 4;
  } while (v != 0);
  return out;
}

std::string ReplaceFirstNoCase(std::string_view path, std::string_view from, std::string_view to) {
  std::string out(path);
  const size_t at = TextFile::FindNoCase(path, from);
  if (at != std::string_view::npos) out.replace(at, from.size(), to);
  return out;
}

}  // namespace ProjectFile

void Main::loader(const std::string& path) {
  g.st.clear();
  g.f = TextFile::Resolve(path);
  std::optional<std::string> text;
  if (g.f) text = TextFile::ReadAll(*g.f);
  if (!text) throw RuntimeError("Cannot open the project file: " + path);
  for (std::string& line : TextFile::SplitLines(*text)) {
    g.st.push_back(std::move(line));
    loop.yield();
  }
}

std::string Main::readINI(std::string_view key, const std::string& defaultValue) {
  for (const std::string& line : g.st) {
    if (!line.empty() && TextFile::StartsWithNoCase(line, key)) return ProjectFile::ValueText(line);
    loop.yield();
  }
  return defaultValue;
}

void Main::LoadProject(std::string& deviceIdText, std::string& cpuText) {
  loader(g.f->string());
  g.OrgID = ProjectFile::Val(readINI("DeviceID", "1"));
  deviceIdText = ProjectFile::Hex(g.OrgID);
  cpuText = readINI("CPUname", "---");
  g.OrgBootID = ProjectFile::Val(readINI("BootLoaderID", "0"));
  g.OrgEEpEnd = ProjectFile::Val(readINI("EEpromMax", "0"));
  baudFromLoad_ = ProjectFile::Val(readINI("BaudRate", "57600"));

  const std::string flashPath = ProjectFile::ReplaceFirstNoCase(g.f->string(), ".ppro", ".hex");
  g.FBytesRead = UHexLoad::IntelHex(flashPath, false, g, dialogs, loop);
  const std::string eepromPath = ProjectFile::ReplaceFirstNoCase(g.f ? g.f->string() : "", ".hex", ".eep");
  g.EBytesRead = UHexLoad::IntelHex(eepromPath, true, g, dialogs, loop);
}

}  // namespace bm
