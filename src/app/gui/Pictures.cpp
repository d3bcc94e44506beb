#include "app/gui/Pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace brisquel::gui {
namespace {

QPolygonF Octagon(QPointF centre, double radius) {
  QPolygonF shape;
  for (int i = 0; i < 8; ++i) {
    const double angle = (22.5 + 45.0 * i) * 3.14159265358979 / 180.0;
    shape << QPointF(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
  }
  return shape;
}

}  // namespace

QPixmap ApplicationPicture(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  // The drive's case.
  p.setPen(QPen(QColor(40, 44, 52), 1.2));
  p.setBrush(QColor(120, 128, 140));
  p.drawRoundedRect(QRectF(3, 5, 26, 22), 3, 3);
  // Its platter and arm.
  p.setBrush(QColor(210, 214, 222));
  p.drawEllipse(QPointF(14, 15), 8, 8);
  p.setBrush(QColor(40, 44, 52));
  p.drawEllipse(QPointF(14, 15), 1.6, 1.6);
  p.setPen(QPen(QColor(40, 44, 52), 1.8, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(25, 8), QPointF(17, 19));
  // The firmware chip, with a green "updated" mark.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(30, 120, 60));
  p.drawRect(QRectF(19, 20, 9, 6));
  p.setBrush(QColor(240, 200, 60));
  for (int i = 0; i < 4; ++i) p.drawRect(QRectF(19.5 + 2.2 * i, 26, 1.2, 1.6));
  return pixmap;
}

QPixmap BreakPicture() {
  QPixmap pixmap(16, 16);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(120, 0, 0), 1.0));
  p.setBrush(QColor(210, 30, 30));
  p.drawPolygon(Octagon(QPointF(8, 8), 7.4));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawRect(QRectF(3.5, 6.8, 9, 2.4));
  return pixmap;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(ApplicationPicture(size));
  return icon;
}

}  // namespace brisquel::gui
