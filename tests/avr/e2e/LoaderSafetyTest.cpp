// Our loader is burnt into boards users ship: it must never harm their application, and a check
// that says "verified" must mean it. Noise on the line, a pin held low, a host that only half
// wakes it, flash bits that do not take and an EEPROM write that is lost, each on an emulated
// ATmega328P; and a download of what the chip already holds writes nothing.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ChipProcess.h"
#include "Chips.h"
#include "Images.h"
#include "RunCli.h"
#include "SerialClient.h"

namespace avrtest {
namespace {

const std::string kApp = projectFile(kAtmega328p, ".hex");
const std::string kGreeting = "hello atmega328p";

// Random bytes at the loader's own rate from reset, at 57600 (the tests' loader) and at 1 Mbaud (a
// shipped one), 20 seeds each: no page erased or written, no EEPROM byte, the application as it
// was, and it starts when the window ends although the noise goes on. Emulated time runs
// unpaced: nothing here waits on the wall clock.
TEST(LoaderSafety, NoiseOnTheLineChangesNoApplicationByte) {
  const HexImage app = loadImage(kApp);
  for (const unsigned baud : {57600u, 1000000u}) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
      SCOPED_TRACE(std::to_string(baud) + " baud, seed " + std::to_string(seed));
      ChipConfig config{"atmega328p", kApp};
      if (baud != BOOT_BAUD)
        config.loader = std::string(LOADERS_DIR) + "/brindlemark-loader-atmega328p-16mhz-" +
                        std::to_string(baud) + ".hex";
      config.extra = {"--noise", "1.6", "--noise-seed", std::to_string(seed), "--run-for", "1.7"};
      ChipProcess chip(config);
      ASSERT_TRUE(chip.started()) << chip.startError();
      const ChipState &state = chip.stop();
      EXPECT_EQ(state.report.at("page_erases"), 0u);
      EXPECT_EQ(state.report.at("page_writes"), 0u);
      EXPECT_EQ(state.report.at("eeprom_writes"), 0u);
      EXPECT_EQ(compareWithImage(state.flash, app, 0, kAtmega328p.appBytes), "");
      EXPECT_NE(chip.transcript().find(kGreeting), std::string::npos) << "the application started";
    }
  }
}

// A host that says "?" and nothing more: the window is not extended, the loader does not wait for
// ever, and the application starts when the window ends.
TEST(LoaderSafety, AHostThatOnlyAsksLetsTheApplicationStart) {
  ChipProcess chip({"atmega328p", kApp});
  ASSERT_TRUE(chip.started()) << chip.startError();
  SerialClient link(chip.port(), BOOT_BAUD);
  EXPECT_EQ(link.exchange(bytesOf("?"), 2), bytesOf("KW")) << link.trace();
  EXPECT_TRUE(chip.waitForOutput(kGreeting, 5)) << chip.transcript();
  EXPECT_EQ(chip.stop().report.at("faults"), 0u);
}

// The boot pin of the first version (PD4, Arduino pin 4) held low at reset, as an LED to ground
// would: the shipped loader is built without it and starts the application.
TEST(LoaderSafety, APinHeldLowDoesNotKeepTheBoardInTheLoader) {
  ChipConfig config{"atmega328p", kApp};
  config.loader = std::string(LOADERS_DIR) + "/brindlemark-loader-atmega328p-16mhz-57600.hex";
  config.extra = {"--pin-low", "D4", "--run-for", "1.5"};
  ChipProcess chip(config);
  ASSERT_TRUE(chip.started()) << chip.startError();
  chip.stop();
  EXPECT_NE(chip.transcript().find(kGreeting), std::string::npos) << chip.transcript();
}

// What "verified" checks: two flash bits that do not take, 32,767 bits apart (a pattern a single
// CRC-16 over the image cannot see), and an EEPROM write that is lost. Each is found, exit 9, and
// the first place named.
TEST(LoaderSafety, VerifyFindsStuckBitsAndALostEepromByte) {
  ASSERT_TRUE(cliBuilt()) << BRINDLEMARK_CLI << " is not built";
  const std::string dir = ::testing::TempDir();
  const std::string image = dir + "bm-stuck-" + std::to_string(::getpid()) + ".hex";
  ASSERT_EQ(writeHexFile(image, 0x1100, 0x03), "");
  const struct {
    std::vector<std::string> faults;
    std::string file, where;
  } cases[] = {
      {{"--stuck-at-zero", "0x0000:1", "--stuck-at-zero", "0x1000:0"}, image, "\"firstDifferingPage\":0"},
      {{"--lose-eeprom-write", "2"}, projectFile(kAtmega328p, ".ppro"), "\"firstDifferingEepromByte\":1"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.faults.front());
    ChipConfig config{"atmega328p", {}};
    config.extra = c.faults;
    ChipProcess chip(config);
    ASSERT_TRUE(chip.started()) << chip.startError();
    std::vector<std::string> argv;
    const RunResult run = cli({"download", c.file, "--port", chip.port(), "--verify", "--json"}, &argv);
    EXPECT_EQ(run.exitCode, 9) << explain(argv, run, chip);
    EXPECT_NE(run.output.find(c.where), std::string::npos) << describe(argv, run);
  }
  std::remove(image.c_str());
}

// The same project twice: the second download writes no page and no EEPROM byte, says so, and is
// verified; the chip holds what it held.
TEST(LoaderSafety, TheImageAlreadyOnTheChipIsNotWrittenAgain) {
  ASSERT_TRUE(cliBuilt()) << BRINDLEMARK_CLI << " is not built";
  ChipProcess chip({"atmega328p", {}});
  ASSERT_TRUE(chip.started()) << chip.startError();
  const std::string project = projectFile(kAtmega328p, ".ppro");
  std::vector<std::string> argv;
  const RunResult first = cli({"download", project, "--port", chip.port(), "--verify", "--json"}, &argv);
  ASSERT_EQ(first.exitCode, 0) << explain(argv, first, chip);
  const RunResult again = cli({"download", project, "--port", chip.port(), "--verify", "--json"}, &argv);
  ASSERT_EQ(again.exitCode, 0) << explain(argv, again, chip);
  EXPECT_NE(again.output.find("\"pagesWritten\":0"), std::string::npos) << describe(argv, again);
  EXPECT_NE(again.output.find("already on the chip"), std::string::npos) << describe(argv, again);
  EXPECT_NE(again.output.find("\"checked\":\"flash and EEPROM\""), std::string::npos)
      << describe(argv, again);
  const ChipState &state = chip.stop();
  EXPECT_EQ(state.report.at("faults"), 0u) << state.harnessLog;
  EXPECT_EQ(compareWithImage(state.flash, loadImage(kApp), 0, kAtmega328p.appBytes), "");
  // Every page erase is the first download's: its pages and the last page it erased first.
  const uint64_t firstPages = std::stoull(first.output.substr(first.output.rfind("\"pagesWritten\":") + 15));
  EXPECT_EQ(state.report.at("page_erases"), firstPages + 1) << "the second download erased nothing";
}

// A session has no idle timeout: a window that connected (Comport) and then waited a minute, as a
// user reading a box does, still downloads.
TEST(LoaderSafety, ASessionWaitsAMinuteForTheNextCommand) {
  ASSERT_TRUE(cliBuilt()) << BRINDLEMARK_CLI << " is not built";
  ChipProcess chip({"atmega328p", kApp});
  ASSERT_TRUE(chip.started()) << chip.startError();
  {
    SerialClient link(chip.port(), BOOT_BAUD);
    EXPECT_EQ(link.exchange(bytesOf("?"), 2), bytesOf("KW")) << link.trace();
    EXPECT_EQ(link.exchange(bytesOf("I"), 7), kAtmega328p.identifyReply) << link.trace();
    std::this_thread::sleep_for(std::chrono::seconds(61));
  }
  std::vector<std::string> argv;
  const RunResult run =
      cli({"download", projectFile(kAtmega328p, ".ppro"), "--port", chip.port(), "--verify"}, &argv);
  EXPECT_EQ(run.exitCode, 0) << explain(argv, run, chip);
  EXPECT_EQ(chip.transcript().find(kGreeting), std::string::npos) << "the application never started";
}

}  // namespace
}  // namespace avrtest
