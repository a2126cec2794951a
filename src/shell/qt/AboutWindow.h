// AboutWindow: the program's icon, name, version, the styled credits and a notice line.
//
// One instance, created on first use. Show(true) lays it out with the credits (326 high, the
// notice under them); Show(false) without (178 high, the notice moved up). The credits field
// is SAEditField, a read-only styled text field whose Select All selects the whole text.
// Untitled; Esc or the platform's Close key closes it.
#pragma once

#include <QTextEdit>
#include <QWidget>

class QLabel;

namespace bm::qt {

class SAEditField : public QTextEdit {
 public:
  explicit SAEditField(QWidget* parent) : QTextEdit(parent) {}
  bool EditSelectAll();  // selects the whole text; returns false, like every menu handler here
};

class AboutWindow : public QWidget {
 public:
  explicit AboutWindow(QWidget* parent);

  void Show(bool useCredits);
  void SetupWindow();
  void SetCreditsFieldText(const QString& text, bool styled);

  bool UseCredits = true;

  QWidget* AppIconCanvas() const { return canvas_; }
  QLabel* StatAppName() const { return name_; }
  QLabel* StatAppVersion() const { return version_; }
  SAEditField* EditAppCredits() const { return credits_; }
  QLabel* StatAppNotice() const { return notice_; }

 private:
  QWidget* canvas_;
  QLabel* name_;
  QLabel* version_;
  SAEditField* credits_;
  QLabel* notice_;
};

}  // namespace bm::qt
