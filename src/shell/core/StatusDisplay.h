// The status display: the view interface, the only way the presenter drives the main window.
//
// Fields carry the control names of the main window. The Qt window implements it over real
// widgets and decides nothing; the tests keep the values in a headless one. The presenter never
// reads a widget except through the getters here.
#pragma once

#include <cstdint>
#include <string>

namespace bm {

// Lamp colours as 24-bit RGB (documented as constants of Util).
namespace Util {
inline constexpr uint32_t clRed = 0xFF0000;
inline constexpr uint32_t clMaroon = 0x800000;
inline constexpr uint32_t clYellow = 0xFFFF00;
inline constexpr uint32_t clOlive = 0x808000;
inline constexpr uint32_t clLime = 0x00FF00;
inline constexpr uint32_t clGreen = 0x008000;
}  // namespace Util

enum class Led { LedRed, LedYellow, LedGreen };
enum class Button { FOpenBtn, ComportBtn, DownLdBtn, EraseBtn, StopBtn };
enum class Check { ProgFlashChk, ProgEEpChk };
enum class Caption {
  FNameCapt,
  FlashSizeCapt,
  EEpSizeCapt,
  SourceDevIDcapt,
  CPUnameCapt,
  TargDevIDcapt,
  TargLoaderIDcapt,
  ModeLabel,
  status0,
  status1,
};

class StatusDisplay {
 public:
  virtual ~StatusDisplay() = default;

  virtual void SetTitle(const std::string& text) = 0;
  virtual void SetCaption(Caption which, const std::string& text) = 0;
  virtual void SetLed(Led which, uint32_t rgb) = 0;
  virtual uint32_t LedColour(Led which) const = 0;
  virtual void SetButtonEnabled(Button which, bool enabled) = 0;
  virtual void SetCheckEnabled(Check which, bool enabled) = 0;
  virtual void SetCheckValue(Check which, bool value) = 0;
  virtual bool CheckValue(Check which) const = 0;
  virtual void SetProgress(int value) = 0;       // nominal 0..100; above is shown full
  virtual void SetProgressMaximum(int max) = 0;  // 100 measured, 0 busy without a known end
  virtual void SetTimer(bool repeating) = 0;     // Timer1: 500 ms, repeating or off
  // The baud pop-up shows the port's rate: its entry when it is one of the pop-up's rates, else
  // an extra entry that stays only while that rate is in use. Fires nothing.
  virtual void ShowBaudRate(int rate) = 0;
  virtual void SetBaudEnabled(bool enabled) = 0;       // off while a run holds the busy guard
  virtual void SetParameterEnabled(bool enabled) = 0;  // the "Parameter" menu item
  // The loaded file's whole path, for the file-name caption's tooltip (empty: none loaded).
  virtual void SetFilePath(const std::string& path) = 0;
  // The progress bar's tooltip during a run (the percent and the time left); empty: its own.
  virtual void SetProgressTip(const std::string& text) = 0;
  // Gives the keyboard focus to a button (after a run, so the next Space is not Stop's).
  virtual void Focus(Button which) = 0;
};

}  // namespace bm
