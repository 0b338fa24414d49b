#include "gui/ui/BarTitleStrip.h"

BarTitleStrip::BarTitleStrip(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void BarTitleStrip::setThickness(int thickness) {
    thickness_ = thickness;
    updateGeometry();
}

// Qt lays a vertical title out by the hint's width, a horizontal one by its height.
QSize BarTitleStrip::sizeHint() const {
    return QSize(thickness_, thickness_);
}
