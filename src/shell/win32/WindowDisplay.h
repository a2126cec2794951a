// WindowDisplay: the status display over the Win32 window's controls.
//
// It decides nothing: the presenter's texts go into the controls as they are, with the one rule
// of the documented window that a doubled ampersand shows as one (Text.h, CaptionText). Lamp
// colours read back exactly as set. Showing a rate in the baud pop-up fires nothing (the
// window forwards only the user's own choice, CBN_SELCHANGE). A status line's tooltip is its
// whole text while it shows one; the progress bar's tooltip is the run's while it runs.
#pragma once

#include <map>

#include "shell/core/StatusDisplay.h"

struct HWND__;
struct HMENU__;

namespace bm::win32 {

// The window's parts the display drives.
struct MainHandles {
  HWND__* window = nullptr;
  std::map<int, HWND__*> controls;  // by control id (Layout.h)
  HWND__* tips = nullptr;
  HMENU__* menu = nullptr;
};

class WindowDisplay : public StatusDisplay {
 public:
  explicit WindowDisplay(const MainHandles& handles) : h_(handles) {}

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

  // Timer1: whether it runs (500 ms, WM_TIMER with kTimer1).
  bool TimerActive() const { return timerActive_; }
  int ProgressMaximum() const { return maximum_; }
  static constexpr unsigned kTimer1 = 1;
  static constexpr unsigned kTimer1Ms = 500;

 private:
  HWND__* Control(int id) const;

  const MainHandles& h_;
  bool timerActive_ = false;
  int progress_ = 0;  // the value last set, shown clamped to the bar's range
  int maximum_ = 100;
};

// Control ids of the view interface's names.
int IdOf(Caption which);
int IdOf(Led which);
int IdOf(Button which);
int IdOf(Check which);

}  // namespace bm::win32
