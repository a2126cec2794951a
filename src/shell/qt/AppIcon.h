// The application icon, drawn from its SVG source (resources/brindlemark.svg), which is also
// what the desktop installation ships.
#pragma once

#include <QIcon>
#include <QRectF>

class QPainter;

namespace bm::qt {

QIcon AppIcon();
void PaintAppIcon(QPainter& painter, const QRectF& target);

}  // namespace bm::qt
