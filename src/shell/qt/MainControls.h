// MainControls: the widgets of the main window, created at their documented positions.
//
// Every control is a child of the 455 × 279 content widget, placed in window coordinates and
// named (objectName) after its control name, so tests and the status display find it by name.
// Controls shown inside a frame are created after that frame and so paint on top of it.
// The struct only points at the widgets; they belong to the content widget.
#pragma once

#include <QGroupBox>
#include <QLabel>

class QCheckBox;
class QComboBox;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

namespace bm::qt {

class Lamp;

struct MainControls {
  static constexpr int kWidth = 455;
  static constexpr int kHeight = 279;

  QGroupBox* GroupBox1 = nullptr;
  QGroupBox* GroupBox2 = nullptr;
  QGroupBox* GroupBox3 = nullptr;
  QLabel* FNameCapt = nullptr;
  QLabel* FlashSizeCapt = nullptr;
  QLabel* EEpSizeCapt = nullptr;
  QLabel* SourceDevIDcapt = nullptr;
  QLabel* CPUnameCapt = nullptr;
  QLabel* TargDevIDcapt = nullptr;
  QLabel* TargLoaderIDcapt = nullptr;
  QLabel* ModeLabel = nullptr;
  QLabel* status0 = nullptr;
  QLabel* status1 = nullptr;
  QCheckBox* ProgFlashChk = nullptr;
  QCheckBox* ProgEEpChk = nullptr;
  Lamp* LedRed = nullptr;
  Lamp* LedYellow = nullptr;
  Lamp* LedGreen = nullptr;
  QComboBox* BaudSelect = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QWidget* Rectangle1 = nullptr;  // never shown; kept so the layout reads like the control table
  QWidget* Rectangle2 = nullptr;
  QPushButton* FOpenBtn = nullptr;
  QPushButton* ComportBtn = nullptr;
  QPushButton* DownLdBtn = nullptr;
  QPushButton* EraseBtn = nullptr;
  QPushButton* StopBtn = nullptr;
  QTimer* Timer1 = nullptr;  // 500 ms, off at creation
};

// Creates every control on `content` (which it sizes to 455 × 279) in its creation state.
// A status line's resting tooltip; while it shows a text, the tooltip is that whole text.
QString StatusLineTip(int line);

MainControls BuildMainControls(QWidget* content);

}  // namespace bm::qt
