// Every chip the loader is built for, in simavr (the part itself or its signature-identical
// twin): a real program downloaded with --verify runs; powered up without a host the program
// starts after the loader's window; powered up without a program the loader stays.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <thread>

#include "ChipProcess.h"
#include "Images.h"
#include "Processes.h"
#include "RunCli.h"
#include "SerialClient.h"

namespace avrtest {
namespace {

struct Chip {
  const char *mcu;
  uint32_t appBytes;  // where the 512-word boot section starts
};

void PrintTo(const Chip &chip, std::ostream *os) { *os << chip.mcu; }

class EveryChip : public ::testing::TestWithParam<Chip> {
 protected:
  std::string project(const char *extension) const {
    return std::string(PROJECTS_DIR) + "/hello-" + GetParam().mcu + extension;
  }
  std::string greeting() const { return std::string("hello ") + GetParam().mcu + " flash ok"; }
};

TEST_P(EveryChip, ADownloadWithVerifyRunsTheProgram) {
  ASSERT_TRUE(cliBuilt()) << BRINDLEMARK_CLI << " is not built";
  ChipProcess chip({GetParam().mcu, {}});
  ASSERT_TRUE(chip.started()) << chip.startError();
  std::vector<std::string> argv;
  const RunResult run =
      cli({"download", project(".ppro"), "--port", chip.port(), "--verify", "--stop", "--json"}, &argv);
  ASSERT_EQ(run.exitCode, 0) << explain(argv, run, chip);
  EXPECT_NE(run.output.find("\"verified\":true"), std::string::npos) << describe(argv, run);
  EXPECT_TRUE(chip.waitForOutput(greeting(), 10)) << chip.transcript();
  const ChipState &state = chip.stop();
  EXPECT_EQ(state.report.at("faults"), 0u) << state.harnessLog;
  EXPECT_EQ(compareWithImage(state.flash, loadImage(project(".hex")), 0, GetParam().appBytes), "");
}

TEST_P(EveryChip, WithoutAHostTheProgramStartsAfterTheWindow) {
  ChipProcess chip({GetParam().mcu, project(".hex")});
  ASSERT_TRUE(chip.started()) << chip.startError();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(chip.waitForOutput(greeting(), 10)) << chip.transcript();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(800))
      << "not before the loader's window of 1 s";
  EXPECT_EQ(chip.stop().report.at("faults"), 0u);
}

TEST_P(EveryChip, WithoutAProgramTheLoaderStays) {
  ChipProcess chip({GetParam().mcu, {}});
  ASSERT_TRUE(chip.started()) << chip.startError();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // past the window
  SerialClient link(chip.port(), BOOT_BAUD);
  EXPECT_EQ(link.exchange(bytesOf("?"), 2), bytesOf("KW")) << link.trace();
  EXPECT_EQ(chip.stop().report.at("faults"), 0u);
}

// A download that stopped half-way has written page 0, so the program looks present after a
// power-up: a host that wakes the loader within the window ("?", then "I") still reaches it, and
// it then stays.
TEST_P(EveryChip, WithAProgramInPlaceAHostReachesTheLoaderInTheWindow) {
  ChipProcess chip({GetParam().mcu, project(".hex")});
  ASSERT_TRUE(chip.started()) << chip.startError();
  SerialClient link(chip.port(), BOOT_BAUD);
  EXPECT_EQ(link.exchange(bytesOf("?"), 2), bytesOf("KW")) << link.trace();
  EXPECT_EQ(link.exchange(bytesOf("I"), 7).at(0), 'I') << link.trace();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(link.exchange(bytesOf("?"), 2), bytesOf("KW")) << "still the loader, past the window";
  EXPECT_EQ(chip.transcript().find("hello"), std::string::npos) << "the program did not start";
  EXPECT_EQ(chip.stop().report.at("faults"), 0u);
}

// The ATmega328P's 8 MHz build at 57600 baud (+2.1 %, which a pseudo-terminal does not mind): the
// image lands and the loader's own check confirms it.
TEST(EightMegahertz, TheShippedLoaderDownloadsAndVerifies) {
  ASSERT_TRUE(cliBuilt()) << BRINDLEMARK_CLI << " is not built";
  ChipConfig config{"atmega328p", {}};
  config.loader = std::string(LOADERS_DIR) + "/brindlemark-loader-atmega328p-8mhz-57600.hex";
  config.freq = 8000000;
  ChipProcess chip(config);
  ASSERT_TRUE(chip.started()) << chip.startError();
  const std::string project = std::string(PROJECTS_DIR) + "/hello-atmega328p";
  std::vector<std::string> argv;
  const RunResult run =
      cli({"download", project + ".ppro", "--port", chip.port(), "--verify", "--json"}, &argv);
  ASSERT_EQ(run.exitCode, 0) << explain(argv, run, chip);
  EXPECT_NE(run.output.find("\"verified\":true"), std::string::npos) << describe(argv, run);
  const ChipState &state = chip.stop();
  EXPECT_EQ(state.report.at("faults"), 0u) << state.harnessLog;
  EXPECT_EQ(compareWithImage(state.flash, loadImage(project + ".hex"), 0, 0x7C00), "");
}

INSTANTIATE_TEST_SUITE_P(Chips, EveryChip,
                         ::testing::Values(Chip{"atmega328p", 0x7C00}, Chip{"atmega168pa", 0x3C00},
                                           Chip{"atmega644pa", 0xFC00}, Chip{"atmega1284p", 0x1FC00},
                                           Chip{"atmega32a", 0x7C00}, Chip{"atmega128a", 0x1FC00}),
                         [](const auto &info) { return std::string(info.param.mcu); });

}  // namespace
}  // namespace avrtest
