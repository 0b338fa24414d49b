#include "gui/app/WindowPlacement.h"

#include <algorithm>

namespace {
int share(int side, int minimum) {
    return std::min(side, std::max(side * WindowPlacement::kFirstShare / 100, minimum));
}
}  // namespace

QRect WindowPlacement::firstStart(const QRect& available) {
    if (available.isEmpty()) {
        return QRect(0, 0, kMinWidth, kMinHeight);
    }
    QRect placed(0, 0, share(available.width(), kMinWidth), share(available.height(), kMinHeight));
    placed.moveCenter(available.center());
    return placed;
}
