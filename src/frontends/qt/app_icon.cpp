#include "frontends/qt/app_icon.h"

#include <QPainter>
#include <QPixmap>

namespace skav::gui {

namespace {

QPixmap draw_icon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 32.0, size / 32.0);

  // The board.
  painter.setPen(QPen(QColor(0x0b, 0x4d, 0x1f), 1.0));
  painter.setBrush(QColor(0x1f, 0x8a, 0x3e));
  painter.drawRoundedRect(QRectF(1.5, 4.5, 29, 23), 3, 3);

  // Traces from the chip to the socket.
  painter.setPen(QPen(QColor(0xe8, 0xc0, 0x4a), 1.2));
  painter.drawLine(QPointF(16, 12), QPointF(22, 12));
  painter.drawLine(QPointF(16, 16), QPointF(22, 16));
  painter.drawLine(QPointF(16, 20), QPointF(22, 20));

  // The chip with its pins.
  painter.setPen(QPen(QColor(0xd0, 0xd0, 0xd0), 1.0));
  for (int i = 0; i < 4; ++i) {
    double y = 10.5 + i * 3.5;
    painter.drawLine(QPointF(4, y), QPointF(16, y));
  }
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x20, 0x20, 0x24));
  painter.drawRect(QRectF(6, 8.5, 8, 15));

  // The Ethernet socket at the edge.
  painter.setBrush(QColor(0xc8, 0xc8, 0xc8));
  painter.drawRect(QRectF(21, 9, 9, 14));
  painter.setBrush(QColor(0x30, 0x30, 0x30));
  painter.drawRect(QRectF(23, 11, 6, 10));
  painter.drawRect(QRectF(24.5, 21, 3, 1.5));
  return pixmap;
}

}  // namespace

QIcon app_icon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64}) icon.addPixmap(draw_icon(size));
  return icon;
}

}  // namespace skav::gui
