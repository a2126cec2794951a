#include "IntelHex.h"

#include <fstream>
#include <vector>

namespace avrtest {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool decodeRecord(const std::string &line, std::vector<uint8_t> &out) {
  if (line.empty() || line[0] != ':' || line.size() % 2 == 0) return false;
  out.clear();
  uint8_t sum = 0;
  for (size_t i = 1; i + 1 < line.size(); i += 2) {
    int hi = hexDigit(line[i]), lo = hexDigit(line[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(uint8_t(hi * 16 + lo));
    sum = uint8_t(sum + out.back());
  }
  return out.size() >= 5 && out[0] + 5u == out.size() && sum == 0;
}

}  // namespace

std::optional<HexImage> readIntelHex(const std::string &path, std::string *error) {
  auto fail = [&](const std::string &why) -> std::optional<HexImage> {
    if (error) *error = path + ": " + why;
    return std::nullopt;
  };
  std::ifstream in(path);
  if (!in) return fail("cannot open");

  HexImage image;
  uint32_t base = 0;
  std::string line;
  std::vector<uint8_t> rec;
  for (int number = 1; std::getline(in, line); ++number) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) continue;
    if (!decodeRecord(line, rec)) return fail("bad record at line " + std::to_string(number));
    const unsigned count = rec[0], offset = rec[1] << 8 | rec[2], type = rec[3];
    const uint8_t *data = rec.data() + 4;
    if (type > 5) return fail("unknown record type at line " + std::to_string(number));
    image.recordTypesSeen |= 1u << type;
    switch (type) {
      case 0:
        for (unsigned i = 0; i < count; ++i) image.bytes[base + offset + i] = data[i];
        break;
      case 1:
        return image;
      case 2:
        base = uint32_t(data[0] << 8 | data[1]) << 4;
        break;
      case 4:
        base = uint32_t(data[0] << 8 | data[1]) << 16;
        break;
      default:
        break;  // start addresses say nothing about memory contents
    }
  }
  return fail("no end record");
}

}  // namespace avrtest
