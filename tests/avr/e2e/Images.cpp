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

}  // namespace avrtest
