#include "gui/ui/ResizeTracker.h"

void ResizeTracker::begin(std::vector<BarGeometry*> row, int self, int hit, const BarRect& window,
                          BarSize paneLeft) {
    row_ = std::move(row);
    self_ = self;
    hit_ = hit;
    BarGeometry& bar = this->self();
    startSize_ = bar.DockedSize();
    startPoint_ = bar.EdgeRect(window, hit).center();
    tracking_ = true;
    sideDrag_ = BarGeometry::IsSideDrag(bar.side, hit);

    minTrack_ = bar.minSize;
    for (const BarGeometry* other : row_) {
        if (bar.IsHorzDock()) {
            minTrack_.cy = std::max(minTrack_.cy, other->minSize.cy);
        } else {
            minTrack_.cx = std::max(minTrack_.cx, other->minSize.cx);
        }
    }

    if (const BarGeometry* next = neighbour()) {
        const BarSize& size = next->DockedSize();
        maxTrack_ = {size.cx + startSize_.cx - next->minSize.cx,
                     size.cy + startSize_.cy - next->minSize.cy};
    } else {
        // Stop 4 pixels short of closing the main pane.
        maxTrack_ = {paneLeft.cx + startSize_.cx - 4, paneLeft.cy + startSize_.cy - 4};
    }
}

BarGeometry* ResizeTracker::neighbour() const {
    if (!sideDrag_) {
        return nullptr;
    }
    const int index = (hit_ == kHitLeft || hit_ == kHitTop) ? self_ - 1 : self_ + 1;
    return index >= 0 && index < static_cast<int>(row_.size()) ? row_[index] : nullptr;
}

bool ResizeTracker::track(BarPoint point) {
    if (!tracking_) {
        return false;
    }
    BarSize size = startSize_;
    switch (hit_) {
        case kHitLeft:
            size.cx += startPoint_.x - point.x;
            break;
        case kHitRight:
            size.cx += point.x - startPoint_.x;
            break;
        case kHitTop:
            size.cy += startPoint_.y - point.y;
            break;
        case kHitBottom:
            size.cy += point.y - startPoint_.y;
            break;
        default:
            break;
    }
    size.cx = std::max(minTrack_.cx, std::min(maxTrack_.cx, size.cx));
    size.cy = std::max(minTrack_.cy, std::min(maxTrack_.cy, size.cy));

    BarGeometry& bar = self();
    BarSize& current = bar.DockedSize();
    if (size == current) {
        return false;
    }
    const BarSize change{size.cx - current.cx, size.cy - current.cy};
    current = size;
    if (BarGeometry* next = neighbour()) {
        // Length moves between the two bars; the row's total stays.
        if (bar.IsHorzDock()) {
            next->horzSize.cx -= change.cx;
        } else {
            next->vertSize.cy -= change.cy;
        }
    } else if (!sideDrag_) {
        for (BarGeometry* other : row_) {
            if (bar.IsHorzDock()) {
                other->horzSize.cy = size.cy;
            } else {
                other->vertSize.cx = size.cx;
            }
        }
    }
    return true;
}

BarPoint ResizeTracker::trackerOffset() const {
    const BarSize& size = self().DockedSize();
    BarPoint offset{size.cx - startSize_.cx, size.cy - startSize_.cy};
    if (hit_ == kHitLeft || hit_ == kHitTop) {
        offset = {-offset.x, -offset.y};
    }
    return offset;
}
