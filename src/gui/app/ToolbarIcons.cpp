#include "gui/app/ToolbarIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 15;

QIcon paint(const std::function<void(QPainter&)>& draw) {
    QIcon icon;
    for (int scale : {1, 2}) {
        QPixmap pixmap(kWidth * scale, kHeight * scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

QIcon ToolbarIcons::fileNew() {
    return paint([](QPainter& p) {
        QPainterPath page;
        page.moveTo(3.5, 1.5);
        page.lineTo(9.5, 1.5);
        page.lineTo(12.5, 4.5);
        page.lineTo(12.5, 13.5);
        page.lineTo(3.5, 13.5);
        page.closeSubpath();
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(Qt::white);
        p.drawPath(page);
        p.drawLine(QPointF(9.5, 1.5), QPointF(9.5, 4.5));
        p.drawLine(QPointF(9.5, 4.5), QPointF(12.5, 4.5));
    });
}

QIcon ToolbarIcons::fileOpen() {
    return paint([](QPainter& p) {
        p.setPen(QPen(QColor(0x80, 0x60, 0x00), 1));
        p.setBrush(QColor(0xf0, 0xc8, 0x40));
        p.drawRect(QRectF(1.5, 4.5, 11, 8));
        p.drawRect(QRectF(1.5, 3.0, 5, 1.5));
        QPainterPath flap;
        flap.moveTo(3.5, 7.5);
        flap.lineTo(14.5, 7.5);
        flap.lineTo(12.5, 12.5);
        flap.lineTo(1.5, 12.5);
        flap.closeSubpath();
        p.setBrush(QColor(0xf8, 0xe0, 0x80));
        p.drawPath(flap);
    });
}

QIcon ToolbarIcons::fileSave() {
    return paint([](QPainter& p) {
        p.setPen(QPen(QColor(0x20, 0x20, 0x50), 1));
        p.setBrush(QColor(0x40, 0x50, 0xa0));
        p.drawRect(QRectF(1.5, 1.5, 12, 12));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(3.5, 1.5, 8, 5));
        p.setBrush(QColor(0xc0, 0xc0, 0xc0));
        p.drawRect(QRectF(4.5, 9.5, 6, 4));
    });
}

QIcon ToolbarIcons::monitorStart() {
    return paint([](QPainter& p) {
        p.setPen(QPen(QColor(0x10, 0x60, 0x10), 1));
        p.setBrush(QColor(0x30, 0xb0, 0x30));
        p.drawEllipse(QRectF(1.5, 1.0, 13, 13));
        QPainterPath play;
        play.moveTo(6, 4);
        play.lineTo(11.5, 7.5);
        play.lineTo(6, 11);
        play.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawPath(play);
    });
}

QIcon ToolbarIcons::monitorStop() {
    return paint([](QPainter& p) {
        p.setPen(QPen(QColor(0x70, 0x10, 0x10), 1));
        p.setBrush(QColor(0xd0, 0x30, 0x30));
        p.drawEllipse(QRectF(1.5, 1.0, 13, 13));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(5, 4.5, 6, 6));
    });
}
