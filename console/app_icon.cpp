#include "console/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace qv::console {
namespace {

// A serial plug: a trapezoid shell with two rows of pins, drawn for one size.
QPixmap DrawIcon(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 32.0;
  p.scale(s, s);
  QPolygonF shell;
  shell << QPointF(2, 9) << QPointF(30, 9) << QPointF(26, 24) << QPointF(6, 24);
  p.setPen(QPen(QColor(20, 40, 90), 1.5));
  p.setBrush(QColor(70, 120, 200));
  p.drawPolygon(shell);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(245, 220, 90));
  for (int i = 0; i < 5; ++i) p.drawEllipse(QPointF(7.5 + i * 4.25, 13.5), 1.6, 1.6);
  for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(9.6 + i * 4.25, 19), 1.6, 1.6);
  return pm;
}

}  // namespace

QIcon ApplicationIcon() {
  QIcon icon;
  icon.addPixmap(DrawIcon(32));
  icon.addPixmap(DrawIcon(16));
  return icon;
}

}  // namespace qv::console
