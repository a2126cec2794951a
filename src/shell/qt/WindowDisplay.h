// WindowDisplay: the status display over the main window's real widgets.
//
// The logic's texts go into the labels exactly as set (a caption with "&&" shows both
// ampersands); lamp colours read back exactly as set. Setting the baud entry fires nothing: the
// window forwards only the user's own choice to the logic.
#pragma once

#include "base/StatusDisplay.h"
#include "shell/qt/MainControls.h"

class QWidget;

namespace bm::qt {

class WindowDisplay : public StatusDisplay {
 public:
  WindowDisplay(QWidget* window, const MainControls& controls) : window_(window), c_(controls) {}

  void SetTitle(const std::string& text) override;
  void SetCaption(Caption which, const std::string& text) override;
  void SetLed(Led which, uint32_t rgb) override;
  uint32_t LedColour(Led which) const override;
  void SetButtonEnabled(Button which, bool enabled) override;
  void SetCheckEnabled(Check which, bool enabled) override;
  void SetCheckValue(Check which, bool value) override;
  bool CheckValue(Check which) const override;
  void SetProgress(int value) override;
  void SetProgressMaximum(int max) override;
  void SetTimer(bool repeating) override;
  void SetBaudIndex(int index) override;
  int BaudIndex() const override;
  void SetBaudEnabled(bool enabled) override;

 private:
  QLabel* Label(Caption which) const;
  Lamp* LampOf(Led which) const;
  QCheckBox* Box(Check which) const;

  QWidget* window_;
  MainControls c_;
  int progress_ = 0;  // the value last set, shown clamped to the bar's range
};

}  // namespace bm::qt
