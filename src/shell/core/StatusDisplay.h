// The status display: the only way the logic drives the main window.
//
// Fields carry the control names of the main window. The Qt window implements it over real
// widgets; HeadlessDisplay (beside it) keeps the values for the command-line tool and the
// tests. The logic never reads a widget except through the getters here.
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
  virtual void SetBaudIndex(int index) = 0;      // selects a BaudSelect entry, fires nothing
  virtual int BaudIndex() const = 0;
  virtual void SetBaudEnabled(bool enabled) = 0;  // off while a run holds the busy guard
};

}  // namespace bm
