// WindowDisplay: the status display over the main window's real widgets.
//
// The logic's texts go into the labels as plain text, with one rule of the documented window: a
// doubled ampersand shows as one ("Device ID : &&1E950F" reads "Device ID : &1E950F"), a single
// one as it is. Lamp colours read back exactly as set. Showing a rate in the baud pop-up fires
// nothing: the window forwards only the user's own choice to the presenter.
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
  WindowDisplay(QWidget* window, const MainControls& controls);

  // The File menu's Load item follows the Load button: disabled with it (a run, mode 0's search).
  void FollowLoadButton(QAction* load) { loadItem_ = load; }
  // The File menu's Parameter item.
  void FollowParameterItem(QAction* parameter) { parameterItem_ = parameter; }

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
  void ShowBaudRate(int rate) override;
  void SetBaudEnabled(bool enabled) override;
  void SetParameterEnabled(bool enabled) override;
  void SetFilePath(const std::string& path) override;
  void SetProgressTip(const std::string& text) override;
  void Focus(Button which) override;

 private:
  QLabel* Label(Caption which) const;
  Lamp* LampOf(Led which) const;
  QPushButton* ButtonOf(Button which) const;
  QCheckBox* Box(Check which) const;

  QWidget* window_;
  MainControls c_;
  QAction* loadItem_ = nullptr;
  QAction* parameterItem_ = nullptr;
  QString idleProgressTip_;  // the progress bar's own tooltip, between runs
  int progress_ = 0;         // the value last set, shown clamped to the bar's range
};

}  // namespace bm::qt
