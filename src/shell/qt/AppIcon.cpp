#include "shell/qt/AppIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resource file lives in this static library; it must be registered explicitly.
static void InitResources() { Q_INIT_RESOURCE(resources); }

namespace bm::qt {
namespace {

QSvgRenderer& Renderer() {
  static QSvgRenderer* renderer = [] {
    InitResources();
    return new QSvgRenderer(QStringLiteral(":/brindlemark/brindlemark.svg"));
  }();
  return *renderer;
}

}  // namespace

void PaintAppIcon(QPainter& painter, const QRectF& target) { Renderer().render(&painter, target); }

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintAppIcon(painter, QRectF(0, 0, size, size));
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace bm::qt
