// A status display without a window, for the tests: it keeps every value the presenter sets,
// starting from the main window's creation state; a subclass can observe changes by overriding
// a setter and calling the base.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "base/Util.h"
#include "shell/core/StatusDisplay.h"

namespace bm {

class HeadlessDisplay : public StatusDisplay {
 public:
  void SetTitle(const std::string& text) override { title = text; }
  void SetCaption(Caption which, const std::string& text) override { captions[Index(which)] = text; }
  void SetLed(Led which, uint32_t rgb) override { leds[Index(which)] = rgb; }
  uint32_t LedColour(Led which) const override { return leds[Index(which)]; }
  void SetButtonEnabled(Button which, bool on) override { buttons[Index(which)] = on; }
  void SetCheckEnabled(Check which, bool on) override { checkEnabled[Index(which)] = on; }
  void SetCheckValue(Check which, bool value) override { checkValue[Index(which)] = value; }
  bool CheckValue(Check which) const override { return checkValue[Index(which)]; }
  void SetProgress(int value) override { progress = value; }
  void SetProgressMaximum(int max) override { progressMaximum = max; }
  void SetTimer(bool repeating) override { timerOn = repeating; }
  void ShowBaudRate(int rate) override { baudRate = rate; }
  void SetBaudEnabled(bool on) override { baudEnabled = on; }
  void SetParameterEnabled(bool on) override { parameterEnabled = on; }
  void SetFilePath(const std::string& path) override { filePath = path; }
  void SetProgressTip(const std::string& text) override { progressTip = text; }
  void Focus(Button which) override { focus = which; }

  const std::string& Text(Caption which) const { return captions[Index(which)]; }
  bool Enabled(Button which) const { return buttons[Index(which)]; }
  bool Enabled(Check which) const { return checkEnabled[Index(which)]; }

  // Creation state of the main window (before its Open handler runs).
  std::string title = "Brindlemark";
  std::array<std::string, 10> captions{"none",           "0 Bytes",        "0 Bytes", "---",      "---",
                                       "Device ID: ---", "Loader ID: ---", "none",    "Untitled", "Untitled"};
  std::array<uint32_t, 3> leds{Util::clMaroon, Util::clOlive, Util::clGreen};
  std::array<bool, 5> buttons{true, false, false, false, true};
  std::array<bool, 2> checkEnabled{true, true};
  std::array<bool, 2> checkValue{false, false};
  int progress = 0;
  int progressMaximum = 100;
  bool timerOn = false;
  int baudRate = 0;  // none shown yet
  bool baudEnabled = true;
  bool parameterEnabled = false;
  std::string filePath;
  std::string progressTip;
  std::optional<Button> focus;

 private:
  template <typename E>
  static constexpr size_t Index(E e) {
    return static_cast<size_t>(e);
  }
};

}  // namespace bm
