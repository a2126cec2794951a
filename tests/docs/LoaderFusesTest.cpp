// docs/loader.md's fuse table against the loader builds: the BOOTSZ a row names, the fuse byte
// that carries it and BOOTRST, and the start address it lists must all give the address the
// build links each chip's loader at (firmware/CMakeLists.txt). A wrong fuse in the manual would
// make a chip start in the middle of nowhere.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>

namespace bm {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(std::string(BM_SOURCE_DIR) + "/" + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ChipFacts {
  unsigned flashWords;
  unsigned bootWordsAt11;  // the boot section for BOOTSZ = 11; each step down doubles it
  bool bootInExtendedFuse;
};

TEST(LoaderDoc, TheFuseTableAgreesWithTheBuild) {
  const std::map<std::string, ChipFacts> chips = {
      {"atmega328p", {16384, 256, false}},  {"atmega168pa", {8192, 128, true}},
      {"atmega644pa", {32768, 512, false}}, {"atmega1284p", {65536, 512, false}},
      {"atmega32a", {16384, 256, false}},   {"atmega128a", {65536, 512, false}},
  };
  const std::string build = Read("firmware/CMakeLists.txt");
  const std::string doc = Read("docs/loader.md");
  // | ATmega328P | m328p | 512 words | 10 | 0x7C00 | 0xFF | 0xDC | 0xFD |
  const std::regex row(
      R"(\| (ATmega\w+) \| m\w+ \| (\d+) words \| ([01]{2})[^|]*\| (0x[0-9A-F]+) \| 0x[0-9A-F]{2} \| (0x[0-9A-F]{2}) \| (0x[0-9A-F]{2}|—) \|)");
  int rows = 0;
  for (auto it = std::sregex_iterator(doc.begin(), doc.end(), row); it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    std::string mcu = m[1];
    for (char& c : mcu) c = static_cast<char>(std::tolower(c));
    SCOPED_TRACE(mcu);
    ASSERT_TRUE(chips.count(mcu));
    const ChipFacts& f = chips.at(mcu);
    const unsigned bootsz = std::stoul(m[3].str(), nullptr, 2);
    const unsigned bootWords = f.bootWordsAt11 << (3 - bootsz);
    EXPECT_EQ(bootWords, std::stoul(m[2].str()));
    const unsigned start = 2 * (f.flashWords - bootWords);
    EXPECT_EQ(start, std::stoul(m[4].str(), nullptr, 16)) << "the start the row lists";
    std::smatch built;
    ASSERT_TRUE(std::regex_search(build, built, std::regex("set\\(BOOT_START_" + mcu + " (0x[0-9A-F]+)\\)")));
    EXPECT_EQ(start, std::stoul(built[1].str(), nullptr, 16)) << "the start the build links at";
    const unsigned fuse = std::stoul((f.bootInExtendedFuse ? m[6] : m[5]).str(), nullptr, 16);
    EXPECT_EQ((fuse >> 1) & 3, bootsz) << "the fuse byte carries BOOTSZ";
    EXPECT_EQ(fuse & 1, 0u) << "BOOTRST programmed: a reset enters the loader";
    ++rows;
  }
  EXPECT_EQ(rows, 6);
}

}  // namespace
}  // namespace bm
