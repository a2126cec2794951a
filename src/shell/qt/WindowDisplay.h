// WindowDisplay: the status display over the main window's real widgets.
//
// The logic's texts go into the labels as plain text, with one rule of the documented window: a
// doubled ampersand shows as one ("Device ID : &&1E950F" reads "Device ID : &1E950F"), a single
// one as it is. Lamp colours read back exactly as set. Setting the baud entry fires nothing: the
// window forwards only the user's own choice to the logic. The logic selects one of the four
// entries; a rate outside them is shown by the window itself (ShowBaudRateInUse).
#pragma once

#include "shell/core/StatusDisplay.h"
#include "shell/qt/MainControls.h"

class QAction;
class QWidget;

namespace bm::qt {

// What a label shows for a caption the logic sets: each "&&" as one "&".
QString CaptionText(const std::string& text);

class WindowDisplay : public StatusDisplay {
 public:
  WindowDisplay(QWidget* window, const MainControls& controls) : window_(window), c_(controls) {}

  // The File menu's Load item follows the Load button: disabled with it (a run, mode 0's search).
  void FollowLoadButton(QAction* load) { loadItem_ = load; }

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

  // Makes the baud pop-up show `rate`, the rate the port is set to: its entry when it is one of
  // the four, else an extra fifth entry that stays only while that rate is in use. Fires nothing.
  void ShowBaudRateInUse(int rate);

 private:
  QLabel* Label(Caption which) const;
  Lamp* LampOf(Led which) const;
  QCheckBox* Box(Check which) const;

  QWidget* window_;
  MainControls c_;
  QAction* loadItem_ = nullptr;
  int progress_ = 0;  // the value last set, shown clamped to the bar's range
};

}  // namespace bm::qt
