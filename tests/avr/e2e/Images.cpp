#include "Images.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace avrtest {

std::string compareWithImage(const std::vector<uint8_t> &memory, const HexImage &image, uint32_t from,
                             uint32_t to) {
  if (memory.size() < to) return "memory dump has " + std::to_string(memory.size()) + " bytes";
  std::string report;
  unsigned differences = 0;
  for (uint32_t a = from; a < to; ++a) {
    const auto it = image.bytes.find(a);
    const uint8_t want = it == image.bytes.end() ? 0xFF : it->second;
    if (memory[a] == want) continue;
    if (++differences <= 8) {
      char line[64];
      std::snprintf(line, sizeof line, "  0x%05X: have %02X, want %02X\n", unsigned(a), memory[a], want);
      report += line;
    }
  }
  if (differences) report = std::to_string(differences) + " bytes differ, first ones:\n" + report;
  return report;
}

HexImage loadImage(const std::string &path) {
  std::string error;
  auto image = readIntelHex(path, &error);
  EXPECT_TRUE(image) << error;
  return image ? *image : HexImage{};
}

std::string writeHexFile(const std::string &path, uint32_t bytes, uint8_t value) {
  FILE *out = std::fopen(path.c_str(), "w");
  if (!out) return "cannot write " + path;
  for (uint32_t at = 0; at < bytes; at += 16) {
    const uint32_t n = std::min<uint32_t>(16, bytes - at);
    unsigned sum = n + (at >> 8) + (at & 0xFF);
    std::fprintf(out, ":%02X%04X00", n, at);
    for (uint32_t i = 0; i < n; ++i, sum += value) std::fprintf(out, "%02X", value);
    std::fprintf(out, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
  }
  std::fprintf(out, ":00000001FF\n");
  std::fclose(out);
  return "";
}

}  // namespace avrtest
