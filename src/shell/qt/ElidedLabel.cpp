#include "shell/qt/ElidedLabel.h"

#include <QPainter>

namespace bm::qt {

void ElidedLabel::paintEvent(QPaintEvent* event) {
  const QRect area = contentsRect();
  if (fontMetrics().horizontalAdvance(text()) <= area.width()) {
    QLabel::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
  painter.drawText(area, static_cast<int>(alignment()),
                   fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
}

}  // namespace bm::qt
