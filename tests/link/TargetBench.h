// The presenter over an engine wired to simulated targets, for the link and programming tests.
//
// Time is the scripted loop's clock; the image is put straight into the shared state (the
// loading step has its own tests). Sent() and Run() give the bytes sent since a mark, and a
// failing test prints the wire trace both ways.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/ByteTrace.h"
#include "base/HexText.h"
#include "platform/PortList.h"
#include "platform/sim/ExampleBoard.h"
#include "platform/sim/SimSerialPort.h"
#include "platform/sim/SimTarget.h"
#include "shell/core/Presenter.h"
#include "support/HeadlessDisplay.h"
#include "support/Inside.h"
#include "support/RecordingDialogs.h"
#include "support/ScriptedEventLoop.h"

namespace bm::test {

// Keeps every progress value and every text of status line 0, in order.
class ProgressDisplay : public HeadlessDisplay {
 public:
  void SetProgress(int value) override {
    progressLog.push_back(value);
    HeadlessDisplay::SetProgress(value);
  }
  void SetCaption(Caption which, const std::string& text) override {
    if (which == Caption::status0) status0Log.push_back(text);
    HeadlessDisplay::SetCaption(which, text);
  }
  std::vector<int> progressLog;
  std::vector<std::string> status0Log;
};

// FlashEnd 0x4000 words and 64-word pages: the first erase goes to word address 0x3FC0.
inline sim::SimTargetConfig TestBoard() {
  sim::SimTargetConfig config = sim::ExampleBoardConfig();
  config.flashWords = 0x4000;
  config.bootWords = 0x400;
  return config;
}

// Bytes as text, for expected wire sequences: Bytes({'A', 0xC0, 0x3F}).
inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

inline std::string Hex(const std::string& bytes) { return HexBytes(bytes); }

struct TargetBench {
  explicit TargetBench(sim::SimTargetConfig config = TestBoard(), int targets = 1) {
    for (int i = 0; i < targets; ++i) {
      auto target = std::make_shared<sim::SimTarget>(config, loop.Clock());
      this->targets.push_back(target);
      ports.Add(std::make_unique<sim::SimSerialService>(target));
    }
    test::Inside(presenter).g.serial_count = ports.Count();
    test::Inside(presenter).ComPort.SetBaudRate(57600);
  }

  sim::SimTarget& target(size_t i = 0) { return *targets[i]; }

  // A loaded image as the loading step leaves it: buffers 0xFF outside the image, mode 1.
  void Load(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& eeprom = {}, int32_t orgId = 0,
            int32_t orgBootId = -1) {
    Globals& g = test::Inside(presenter).g;
    std::fill(g.FlashArr.begin(), g.FlashArr.end(), 0xFF);
    std::fill(g.EEpromArr.begin(), g.EEpromArr.end(), 0xFF);
    std::copy(flash.begin(), flash.end(), g.FlashArr.begin());
    std::copy(eeprom.begin(), eeprom.end(), g.EEpromArr.begin());
    g.FBytesRead = static_cast<int32_t>(flash.size());
    g.EBytesRead = static_cast<int32_t>(eeprom.size());
    g.OrgID = orgId;
    g.OrgBootID = orgBootId;
    test::Inside(presenter).mode = Mode::FileLoaded;
    presenter.UpdateButtons();
    display.SetCheckValue(Check::ProgFlashChk, !flash.empty());
    display.SetCheckValue(Check::ProgEEpChk, !eeprom.empty());
  }

  // The search and identification; true when the window ends in mode 2.
  bool Connect() {
    presenter.ComportBtn_Action();
    return presenter.ModeNumber() == 2 && test::Inside(presenter).g.COMok;
  }

  // Marks the wire: Sent() then returns what the host sent after this point.
  void Mark() { mark_ = AllSent().size(); }
  std::string Sent() const { return AllSent().substr(mark_); }
  std::string AllSent() const {
    std::string all;
    for (auto& t : targets) all += t->SentBytes();
    return all;
  }
  std::string TraceText() const {
    std::string text;
    for (auto& t : targets) text += bm::TraceText(t->Trace(), 80) + "\n";
    return text;
  }

  ScriptedEventLoop loop;
  std::vector<std::shared_ptr<sim::SimTarget>> targets;
  PortList ports;
  ProgressDisplay display;
  RecordingDialogs dialogs;
  Engine engine{loop, ports};
  Presenter presenter{engine, display, dialogs};

 private:
  size_t mark_ = 0;
};

// Prints the wire trace when the enclosing scope added a failure (one table row, one test).
class TraceOnFailure {
 public:
  TraceOnFailure(const TargetBench& bench, std::string what) : bench_(bench), what_(std::move(what)) {}
  ~TraceOnFailure() {
    if (Failures() > before_) std::cout << "wire trace of [" << what_ << "]:\n" << bench_.TraceText();
  }

 private:
  static int Failures() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
  }
  const TargetBench& bench_;
  std::string what_;
  int before_ = Failures();
};

// An image of n bytes whose bytes are never 0xFF.
inline std::vector<uint8_t> Image(size_t n, uint8_t seed = 1) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + seed) % 251);
  return bytes;
}

}  // namespace bm::test
