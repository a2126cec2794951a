#include "shell/qt/Lamp.h"

#include <QPainter>

namespace bm::qt {

Lamp::Lamp(QWidget* parent, uint32_t rgb) : QWidget(parent), fill_(rgb) {}

void Lamp::SetFill(uint32_t rgb) {
  if (rgb == fill_) return;
  fill_ = rgb;
  update();
}

void Lamp::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(QColor::fromRgb(fill_));
  // Half a pixel in, so the 1-pixel border lies fully inside the widget.
  painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace bm::qt
