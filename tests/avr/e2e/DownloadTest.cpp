// brindlemark-cli against our bootloader on an emulated chip, through the
// real serial port code: a project is downloaded and started, erased, or
// refused; afterwards the chip's flash and EEPROM are compared with the
// files the program was given.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "ChipProcess.h"
#include "Chips.h"
#include "Images.h"
#include "Processes.h"
#include "RunCli.h"

namespace avrtest {
namespace {

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::string line;
  for (char ch : text) {
    if (ch == '\r' || ch == '\n') {
      if (!line.empty()) out.push_back(line);
      line.clear();
    } else {
      line += ch;
    }
  }
  if (!line.empty()) out.push_back(line);
  return out;
}

bool hasLine(const std::vector<std::string> &all, const std::string &wanted) {
  for (const auto &l : all)
    if (l.find(wanted) != std::string::npos && l.size() <= wanted.size() + 2) return true;
  return false;
}

class Download : public ::testing::TestWithParam<ChipCase> {
 protected:
  void SetUp() override { ASSERT_TRUE(cliBuilt()) << BRINDLEMARK_CLI << " is not built"; }
};

TEST_P(Download, WritesTheProjectAndStartsItWithStop) {
  const ChipCase &c = GetParam();
  ChipProcess chip({c.mcu, {}});
  ASSERT_TRUE(chip.started()) << chip.startError();

  // The project names the loader (BootLoaderID=$0101); --verify checks the flash on the chip.
  std::vector<std::string> argv;
  const RunResult run = cli(
      {"download", projectFile(c, ".ppro"), "--port", chip.port(), "--stop", "--verify", "--json"}, &argv);
  ASSERT_EQ(run.exitCode, 0) << explain(argv, run, chip);
  EXPECT_NE(run.output.find("\"verified\":true"), std::string::npos) << describe(argv, run);
  EXPECT_TRUE(chip.waitForOutput(c.greeting, 10)) << "the chip sent: " << chip.transcript();

  const ChipState &state = chip.stop();
  // What a port that really waits for each byte to leave would add (see
  // avr-chip's run loop): the realistic duration is the sum.
  const double lineMs = double(state.report.at("line_time_taken_as_spent_ms"));
  std::printf("[ timing   ] %s: %s downloaded in %.1f s here, %.1f s over a real %d baud line\n", c.mcu,
              c.project, run.seconds, run.seconds + lineMs / 1000, BOOT_BAUD);
  EXPECT_EQ(state.report.at("faults"), 0u) << state.harnessLog;
  const HexImage flash = loadImage(projectFile(c, ".hex"));
  EXPECT_EQ(compareWithImage(state.flash, flash, 0, c.appBytes), "") << "application section";
  EXPECT_EQ(compareWithImage(state.flash, loadImage(ChipProcess::loaderHex(c.mcu)), c.appBytes,
                             uint32_t(state.flash.size())),
            "")
      << "boot section";
  EXPECT_EQ(compareWithImage(state.eeprom, loadImage(projectFile(c, ".eep")), 0, c.eepromBytes), "")
      << "EEPROM";
}

// A page that did not take, though the loader acknowledged it: --verify finds it and names it.
TEST_P(Download, AFlippedBitIsFoundByVerifyAndItsPageNamed) {
  const ChipCase &c = GetParam();
  ChipProcess chip({c.mcu, {}, 2});
  ASSERT_TRUE(chip.started()) << chip.startError();
  std::vector<std::string> argv;
  const RunResult run = cli({"download", projectFile(c, ".ppro"), "--port", chip.port(), "--verify"}, &argv);
  EXPECT_EQ(run.exitCode, 9) << explain(argv, run, chip);
  // The second page write is the image's second page: the pages go out from address 0.
  char page[64];
  std::snprintf(page, sizeof page, "from the page at 0x%04X on.", unsigned(c.pageBytes));
  EXPECT_NE(run.output.find(page), std::string::npos) << describe(argv, run);
  chip.stop();
}

TEST_P(Download, EraseLeavesTheImagesPagesBlank) {
  const ChipCase &c = GetParam();
  ChipProcess chip({c.mcu, projectFile(c, ".hex")});
  ASSERT_TRUE(chip.started()) << chip.startError();

  std::vector<std::string> argv;
  const RunResult run = cli({"erase", projectFile(c, ".ppro"), "--port", chip.port()}, &argv);
  ASSERT_EQ(run.exitCode, 0) << explain(argv, run, chip);

  const ChipState &state = chip.stop();
  EXPECT_EQ(state.report.at("faults"), 0u) << state.harnessLog;
  EXPECT_EQ(state.report.at("page_writes"), 0u);
  EXPECT_EQ(compareWithImage(state.flash, HexImage{}, 0, c.appBytes), "") << "application section";
  EXPECT_EQ(compareWithImage(state.flash, loadImage(ChipProcess::loaderHex(c.mcu)), c.appBytes,
                             uint32_t(state.flash.size())),
            "")
      << "boot section";
}

INSTANTIATE_TEST_SUITE_P(Chips, Download, ::testing::Values(kAtmega328p, kAtmega1284p),
                         [](const auto &info) { return std::string(info.param.mcu); });

TEST(DownloadRefused, AProjectForAnotherDeviceIsRefusedAndNothingIsWritten) {
  ASSERT_TRUE(cliBuilt()) << BRINDLEMARK_CLI << " is not built";
  const std::string app = projectFile(kAtmega328p, ".hex");
  ChipProcess chip({kAtmega328p.mcu, app});
  ASSERT_TRUE(chip.started()) << chip.startError();

  std::vector<std::string> argv;
  const RunResult run =
      cli({"download", std::string(PROJECTS_DIR) + "/wrongid328p.ppro", "--port", chip.port()}, &argv);
  EXPECT_EQ(run.exitCode, 4) << explain(argv, run, chip);
  const auto out = lines(run.output);
  EXPECT_TRUE(hasLine(out, "Device ID :") && hasLine(out, "1E9705") && hasLine(out, "expected!"))
      << describe(argv, run);

  const ChipState &state = chip.stop();
  EXPECT_EQ(state.report.at("page_erases"), 0u);
  EXPECT_EQ(state.report.at("page_writes"), 0u);
  EXPECT_EQ(state.report.at("eeprom_writes"), 0u);
  EXPECT_EQ(compareWithImage(state.flash, loadImage(app), 0, kAtmega328p.appBytes), "");
}

TEST(DownloadRefused, AnImageOnePageLargerThanTheFlashIsRefusedAndTheChipIsUntouched) {
  ASSERT_TRUE(cliBuilt()) << BRINDLEMARK_CLI << " is not built";
  const ChipCase &c = kAtmega328p;
  const std::string app = projectFile(c, ".hex");
  ChipProcess chip({c.mcu, app});
  ASSERT_TRUE(chip.started()) << chip.startError();
  char dir[] = "/tmp/bm-avr-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string big = std::string(dir) + "/big.hex";
  ASSERT_EQ(writeHexFile(big, c.appBytes + c.pageBytes, 0x2A), "");

  std::vector<std::string> argv;
  const RunResult run = cli({"download", big, "--port", chip.port()}, &argv);
  std::remove(big.c_str());
  ::rmdir(dir);
  EXPECT_EQ(run.exitCode, 7) << explain(argv, run, chip);
  const auto out = lines(run.output);
  EXPECT_TRUE(
      hasLine(out, "The flash image (31872 bytes) is larger than the target's flash (31744 bytes).") &&
      hasLine(out, "Nothing was written."))
      << describe(argv, run);

  const ChipState &state = chip.stop();
  EXPECT_EQ(state.report.at("page_erases"), 0u);
  EXPECT_EQ(state.report.at("page_writes"), 0u);
  EXPECT_EQ(compareWithImage(state.flash, loadImage(app), 0, c.appBytes), "")
      << "the application is untouched";
}

// The host program reads segment-addressed HEX only; the image above 64 KiB
// must have been written that way.
TEST(TestPrograms, TheImageAbove64KiBUsesSegmentRecordsOnly) {
  const HexImage image = loadImage(projectFile(kAtmega1284p, ".hex"));
  EXPECT_GT(image.end(), 0x10000u);
  EXPECT_TRUE(image.hasType(2));
  EXPECT_FALSE(image.hasType(4));
  EXPECT_FALSE(image.hasType(5));
}

}  // namespace
}  // namespace avrtest
