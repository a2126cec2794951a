// HelpWindow: a plain reading window for the built-in help and the release notes. Not modal;
// one instance, reused for either text. Esc closes it.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace bm::qt {

class HelpWindow : public QWidget {
 public:
  explicit HelpWindow(QWidget* parent);

  void ShowText(const QString& title, const QString& markdown);
  QTextBrowser* Browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

}  // namespace bm::qt
