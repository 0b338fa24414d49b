#include "gui/ui/DialogUnits.h"

#include <QFontMetrics>
#include <QString>
#include <algorithm>

namespace {

// The template layouts were drawn for a Japanese font in which a full-width character is exactly
// two average characters wide; fonts where it is wider would cut the Japanese labels.
int averageCharWidth(const QFontMetrics& metrics) {
    const QString latin = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const int latinAverage = (metrics.horizontalAdvance(latin) / 26 + 1) / 2;
    const int halfFullWidth = (metrics.horizontalAdvance(QStringLiteral("あ")) + 1) / 2;
    return std::max({1, latinAverage, halfFullWidth});
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    baseX_ = averageCharWidth(metrics);
    baseY_ = std::max(1, metrics.height());
}

int DialogUnits::x(int units) const {
    return (units * baseX_ + 2) / 4;
}

int DialogUnits::y(int units) const {
    return (units * baseY_ + 4) / 8;
}

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    const int l = x(left);
    const int t = y(top);
    return QRect(l, t, x(left + width) - l, y(top + height) - t);
}

QSize DialogUnits::size(int width, int height) const {
    return QSize(x(width), y(height));
}

void DialogUnits::fitText(const QFont& font, const QString& text, int widthUnits) {
    if (widthUnits <= 0) {
        return;
    }
    // A label draws its text with a pixel or two of room.
    const int needed = QFontMetrics(font).horizontalAdvance(text) + 2;
    baseX_ = std::max(baseX_, (needed * 4 + widthUnits - 1) / widthUnits);
}
