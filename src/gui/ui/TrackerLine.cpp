#include "gui/ui/TrackerLine.h"

#include <QPainter>

TrackerLine::TrackerLine(QWidget* frame) : QWidget(frame) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setObjectName(QStringLiteral("resizeTracker"));
    hide();
}

void TrackerLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QBrush(Qt::black, Qt::Dense4Pattern));
}
