#include "ui/widgets/pictures.h"

#include <QPainter>

namespace {

// A diskette: body, label and shutter, drawn in `ink` on a 24 x 24 picture at `left`.
void Draw_Save_Picture(QPainter& painter, int left, QColor body, QColor label, QColor shutter) {
  painter.setPen(Qt::NoPen);
  painter.setBrush(body);
  painter.drawRoundedRect(QRectF(left + 2, 2, 20, 20), 2, 2);
  painter.setBrush(label);
  painter.drawRect(QRectF(left + 5, 3, 14, 8));
  painter.setBrush(shutter);
  painter.drawRect(QRectF(left + 7, 15, 10, 7));
  painter.setBrush(body);
  painter.drawRect(QRectF(left + 13, 16, 2, 5));
}

}  // namespace

QPixmap Compose_Save_Strip() {
  QPixmap strip(48, 24);
  strip.fill(Qt::transparent);
  QPainter painter(&strip);
  painter.setRenderHint(QPainter::Antialiasing);
  Draw_Save_Picture(painter, 0, QColor(30, 70, 160), QColor(245, 245, 245), QColor(190, 190, 200));
  Draw_Save_Picture(painter, 24, QColor(150, 150, 150), QColor(230, 230, 230),
                    QColor(200, 200, 200));
  return strip;
}

QIcon Save_Icon_From_Strip(const QPixmap& strip) {
  QIcon icon;
  icon.addPixmap(strip.copy(0, 0, 24, 24), QIcon::Normal);
  icon.addPixmap(strip.copy(24, 0, 24, 24), QIcon::Disabled);
  return icon;
}

QIcon Program_Icon() {
  QIcon icon;
  for (int size : {16, 32, 64}) {
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 16.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 128));
    painter.drawEllipse(QRectF(1 * s, 1 * s, 14 * s, 14 * s));
    painter.setBrush(QColor(220, 30, 30));
    painter.drawEllipse(QRectF(5 * s, 5 * s, 6 * s, 6 * s));
    icon.addPixmap(picture);
  }
  return icon;
}
