// The bootloader itself, spoken to byte by byte on its emulated chip: the
// replies of every command, where pages land (including above 64 KiB), what
// it refuses to touch, and how it recovers from a host that vanished.
// The harness's report proves the chip saw no fault a real part would show.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ChipProcess.h"
#include "Chips.h"
#include "Images.h"
#include "SerialClient.h"

namespace avrtest {
namespace {

constexpr uint8_t ACK = 0x0D, REFUSED = '?';

Bytes page(uint32_t size, uint8_t salt) {
  Bytes data(size);
  for (uint32_t i = 0; i < size; ++i) data[i] = uint8_t(i * 13 + salt * 71 + 1);
  return data;
}

uint8_t sum(const Bytes &data) {
  uint8_t s = 0;
  for (uint8_t b : data) s = uint8_t(s + b);
  return s;
}

Bytes address(uint32_t byteAddress) {
  const uint32_t word = byteAddress / 2;
  return {'A', uint8_t(word), uint8_t(word >> 8)};
}

Bytes plus(Bytes a, const Bytes &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The wake-up that begins a session: "?" answered "KW", then "I" answered with the identity.
void wake(SerialClient &link, const ChipCase &chip) {
  EXPECT_EQ(link.exchange(bytesOf("?"), 2), bytesOf("KW")) << link.trace();
  EXPECT_EQ(link.exchange(bytesOf("I"), 7), chip.identifyReply) << link.trace();
}

class BootloaderProtocol : public ::testing::TestWithParam<ChipCase> {
 protected:
  // A chip, its line, and (unless told not to) a session begun.
  void start(const std::string &app = {}, bool session = true) {
    chip_ = std::make_unique<ChipProcess>(ChipConfig{GetParam().mcu, app});
    ASSERT_TRUE(chip_->started()) << chip_->startError();
    link_ = std::make_unique<SerialClient>(chip_->port(), BOOT_BAUD);
    ASSERT_TRUE(link_->isOpen());
    if (session) wake(*link_, GetParam());
  }

  // Erases, loads and writes one page; every reply must be the documented one.
  void writePage(uint32_t at, const Bytes &data) {
    EXPECT_EQ(link_->exchange(address(at), 1), Bytes{ACK}) << link_->trace();
    EXPECT_EQ(link_->exchange(bytesOf("E"), 1), Bytes{ACK}) << link_->trace();
    EXPECT_EQ(link_->exchange(plus(bytesOf("D"), data), 1), Bytes{sum(data)}) << link_->trace();
    EXPECT_EQ(link_->exchange(bytesOf("P"), 1), Bytes{ACK}) << link_->trace();
  }

  const ChipState &finish() {
    link_.reset();
    const ChipState &state = chip_->stop();
    EXPECT_EQ(state.report.at("faults"), 0u) << state.harnessLog;
    return state;
  }

  std::unique_ptr<ChipProcess> chip_;
  std::unique_ptr<SerialClient> link_;
};

TEST_P(BootloaderProtocol, IdentifiesItselfAsDocumented) {
  start({}, false);
  wake(*link_, GetParam());
  // LoaderID 0x0101 as projects name it; then the family marker "BM", version 2.0 and the block
  // checks ("V", "v") among its abilities.
  EXPECT_EQ(link_->exchange(bytesOf("i"), 8), (Bytes{0x01, 0x01, 'B', 'M', 0x02, 0x00, 0x00, 0x02}))
      << link_->trace();
  finish();
}

TEST_P(BootloaderProtocol, WritesPagesAnywhereInTheApplicationSectionButNeverInItsOwn) {
  const ChipCase &c = GetParam();
  start();
  // First and last application page; on the 1284P also both sides of the
  // 64 KiB line, where RAMPZ takes over.
  std::vector<uint32_t> pages = {0, c.appBytes - c.pageBytes};
  if (c.appBytes > 0x10000) {
    pages.push_back(0x10000 - c.pageBytes);
    pages.push_back(0x10000);
  }
  for (size_t i = 0; i < pages.size(); ++i) writePage(pages[i], page(c.pageBytes, uint8_t(i)));

  EXPECT_EQ(link_->exchange(address(c.appBytes), 1), Bytes{ACK}) << link_->trace();
  EXPECT_EQ(link_->exchange(bytesOf("E"), 1), Bytes{REFUSED}) << link_->trace();
  EXPECT_EQ(link_->exchange(plus(bytesOf("D"), page(c.pageBytes, 9)), 1), Bytes{sum(page(c.pageBytes, 9))});
  EXPECT_EQ(link_->exchange(bytesOf("P"), 1), Bytes{REFUSED}) << link_->trace();

  const ChipState &state = finish();
  HexImage expected = loadImage(ChipProcess::loaderHex(c.mcu));
  for (size_t i = 0; i < pages.size(); ++i) {
    const Bytes data = page(c.pageBytes, uint8_t(i));
    for (uint32_t k = 0; k < c.pageBytes; ++k) expected.bytes[pages[i] + k] = data[k];
  }
  EXPECT_EQ(compareWithImage(state.flash, expected, 0, uint32_t(state.flash.size())), "");
  EXPECT_EQ(state.report.at("page_erases"), pages.size());
  EXPECT_EQ(state.report.at("page_writes"), pages.size());
}

TEST_P(BootloaderProtocol, WritesEepromBytesUpToItsEndAndRefusesPastIt) {
  const ChipCase &c = GetParam();
  start();
  const uint32_t last = c.eepromBytes - 1;
  EXPECT_EQ(link_->exchange({'B', 0, 0, 0x11}, 1), Bytes{ACK}) << link_->trace();
  EXPECT_EQ(link_->exchange({'B', uint8_t(last), uint8_t(last >> 8), 0x22}, 1), Bytes{ACK}) << link_->trace();
  EXPECT_EQ(link_->exchange({'B', uint8_t(c.eepromBytes), uint8_t(c.eepromBytes >> 8), 0x33}, 1),
            Bytes{REFUSED})
      << link_->trace();

  const ChipState &state = finish();
  ASSERT_EQ(state.eeprom.size(), c.eepromBytes);
  Bytes expected(c.eepromBytes, 0xFF);
  expected.front() = 0x11;
  expected.back() = 0x22;
  EXPECT_EQ(state.eeprom, expected);
  EXPECT_EQ(state.report.at("eeprom_writes"), 2u);
}

TEST_P(BootloaderProtocol, ListensAgainAfterAHostVanishedHalfwayThroughAPage) {
  const ChipCase &c = GetParam();
  start();
  EXPECT_EQ(link_->exchange(address(0), 1), Bytes{ACK});
  link_->send(plus(bytesOf("D"), Bytes(10, 0x55)));
  // Longer than the loader's 250 ms byte timeout.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(link_->exchange(bytesOf("?"), 2), bytesOf("KW")) << link_->trace();
  // And the next page is taken from its first byte again.
  writePage(0, page(c.pageBytes, 3));
  const ChipState &state = finish();
  EXPECT_TRUE(
      std::equal(state.flash.begin(), state.flash.begin() + c.pageBytes, page(c.pageBytes, 3).begin()));
}

TEST_P(BootloaderProtocol, StartsTheApplicationOnXRightAfterAPageWrite) {
  const ChipCase &c = GetParam();
  const std::string app = projectFile(c, ".hex");
  start(app);
  // Rewrite the first page (in the read-while-write section) with what the
  // image holds there: the loader has to make that section readable again
  // (RWWSRE) before it jumps.
  const HexImage image = loadImage(app);
  // With an application in place the loader listens for its window: the wake-up keeps it.
  Bytes data(c.pageBytes, 0xFF);
  for (uint32_t k = 0; k < c.pageBytes; ++k)
    if (auto it = image.bytes.find(k); it != image.bytes.end()) data[k] = it->second;
  writePage(0, data);
  link_->send(bytesOf("X"));
  // Its EEPROM is blank here, so only the flash part of the line is known.
  const std::string greeting = c.greeting;
  const std::string flashPart = greeting.substr(0, greeting.find(" eeprom"));
  EXPECT_TRUE(chip_->waitForOutput(flashPart, 10)) << chip_->transcript();
  finish();
}

INSTANTIATE_TEST_SUITE_P(Chips, BootloaderProtocol, ::testing::Values(kAtmega328p, kAtmega1284p),
                         [](const auto &info) { return std::string(info.param.mcu); });

// The emulation must fail where silicon fails, or the tests above prove
// little: a page programmed without an erase keeps the zeros already there.
TEST(ChipModel, AWriteWithoutEraseOnlyClearsBitsAndIsReported) {
  ChipProcess chip({"atmega328p", {}});
  ASSERT_TRUE(chip.started()) << chip.startError();
  SerialClient link(chip.port(), BOOT_BAUD);
  wake(link, kAtmega328p);
  const Bytes first(128, 0x0F), second(128, 0x3C);
  EXPECT_EQ(link.exchange(address(0), 1), Bytes{ACK});
  EXPECT_EQ(link.exchange(bytesOf("E"), 1), Bytes{ACK});
  EXPECT_EQ(link.exchange(plus(bytesOf("D"), first), 1), Bytes{sum(first)});
  EXPECT_EQ(link.exchange(bytesOf("P"), 1), Bytes{ACK});
  EXPECT_EQ(link.exchange(plus(bytesOf("D"), second), 1), Bytes{sum(second)});
  EXPECT_EQ(link.exchange(bytesOf("P"), 1), Bytes{ACK}) << link.trace();
  const ChipState &state = chip.stop();
  EXPECT_EQ(state.flash[0], 0x0F & 0x3C);
  EXPECT_EQ(state.flash[127], 0x0F & 0x3C);
  EXPECT_EQ(state.report.at("faults"), 1u) << state.harnessLog;
  EXPECT_NE(state.harnessLog.find("unerased"), std::string::npos) << state.harnessLog;
}

}  // namespace
}  // namespace avrtest
