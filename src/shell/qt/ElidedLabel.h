// A label that keeps its whole text but draws a text too long for it shortened with "…" at
// the end, so a long file name never spills over the controls beside it.
#pragma once

#include <QLabel>

namespace bm::qt {

class ElidedLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace bm::qt
