#include "gui/app/ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>

QPixmap ProgramIcon::pixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(0x3a, 0x7b, 0xd5));
    tile.setColorAt(1, QColor(0x1c, 0x3f, 0x8a));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // The eye: two arcs around a pupil.
    QPainterPath eye;
    eye.moveTo(8, 32);
    eye.quadTo(32, 8, 56, 32);
    eye.quadTo(32, 56, 8, 32);
    painter.setBrush(Qt::white);
    painter.drawPath(eye);
    painter.setBrush(QColor(0x1c, 0x3f, 0x8a));
    painter.drawEllipse(QPointF(32, 32), 10, 10);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(28, 28), 3, 3);

    painter.setBrush(QColor(0xe5, 0x39, 0x35));
    painter.setPen(QPen(Qt::white, 3));
    painter.drawEllipse(QPointF(50, 14), 8, 8);
    return pixmap;
}

QIcon ProgramIcon::icon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        icon.addPixmap(pixmap(size));
    }
    return icon;
}
