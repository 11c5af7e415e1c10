// Drawn at the two sizes a window asks for, so it stays sharp in the title bar and the task bar.
#include "app_icon.h"

#include <QColor>
#include <QPainter>
#include <QPen>
#include <QPolygonF>

namespace zephor::qt {

namespace {
constexpr int kSmallIconSize = 16;
const QColor kPlateColor(0x1f, 0x4e, 0x9a);
const QColor kLetterColor(Qt::white);
}  // namespace

QPixmap AppIconPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size;
  painter.setPen(Qt::NoPen);
  painter.setBrush(kPlateColor);
  painter.drawRoundedRect(QRectF(0.5, 0.5, s - 1.0, s - 1.0), s / 6.0, s / 6.0);
  // The Z: top bar, diagonal, bottom bar.
  QPen pen(kLetterColor, s / 8.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  const qreal lo = s * 0.25;
  const qreal hi = s * 0.75;
  painter.drawPolyline(
      QPolygonF({QPointF(lo, lo), QPointF(hi, lo), QPointF(lo, hi), QPointF(hi, hi)}));
  return pixmap;
}

QIcon AppIcon() {
  QIcon icon;
  icon.addPixmap(AppIconPixmap(kSmallIconSize));
  icon.addPixmap(AppIconPixmap(kSystemIconSize));
  return icon;
}

}  // namespace zephor::qt
