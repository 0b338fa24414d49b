#include "gui/ui/BarGeometry.h"

void BarGeometry::SetDefault(BarSize size, bool hasGripper) {
    horzSize = vertSize = floatSize = size;
    gripperSize = hasGripper ? kGripperSize : 0;
}

BarRect BarGeometry::CalcClient(const BarRect& window, bool hasPrev, bool hasNext) {
    BarRect client{window.left + kEdgeWidth, window.top + kEdgeWidth, window.right - kEdgeWidth,
                   window.bottom - kEdgeWidth};
    edges = 0;
    switch (side) {
        case DockSide::Top:
            edges = kEdgeBottom;
            client.left += gripperSize;
            break;
        case DockSide::Bottom:
            edges = kEdgeTop;
            client.left += gripperSize;
            break;
        case DockSide::Left:
            edges = kEdgeRight;
            client.top += gripperSize;
            break;
        case DockSide::Right:
            edges = kEdgeLeft;
            client.top += gripperSize;
            break;
        case DockSide::Floating:
            break;
    }
    if (IsDocked()) {
        if (hasPrev) {
            edges |= IsHorzDock() ? kEdgeLeft : kEdgeTop;
        }
        if (hasNext) {
            edges |= IsHorzDock() ? kEdgeRight : kEdgeBottom;
        }
    }
    if (IsHorzDock()) {
        closeOrigin = {client.left - gripperSize - 1 - window.left, client.top - 1 - window.top};
    } else {
        closeOrigin = {client.right - kCloseSize - window.left,
                       client.top - gripperSize - 1 - window.top};
    }
    return client;
}

BarRect BarGeometry::EdgeRect(const BarRect& window, int hit) const {
    BarRect r = window;
    const bool horz = IsHorzDock();
    const bool vert = side == DockSide::Left || side == DockSide::Right;
    switch (hit) {
        case kHitLeft:
            if (!(edges & kEdgeLeft)) {
                return {};
            }
            r.right = r.left + kEdgeWidth;
            break;
        case kHitRight:
            if (!(edges & kEdgeRight)) {
                return {};
            }
            r.left = r.right - kEdgeWidth;
            break;
        case kHitTop:
            if (!(edges & kEdgeTop)) {
                return {};
            }
            r.bottom = r.top + kEdgeWidth;
            break;
        case kHitBottom:
            if (!(edges & kEdgeBottom)) {
                return {};
            }
            r.top = r.bottom - kEdgeWidth;
            break;
        default:
            return {};
    }
    // Edges across the row stop short of the corners, where the neighbouring bars meet.
    if (horz && (hit == kHitLeft || hit == kHitRight)) {
        r.top += kEdgeWidth;
        r.bottom -= kEdgeWidth;
    }
    if (vert && (hit == kHitTop || hit == kHitBottom)) {
        r.left += kEdgeWidth;
        r.right -= kEdgeWidth;
    }
    return r;
}

int BarGeometry::HitTest(const BarRect& window, BarPoint p) const {
    for (int hit : {kHitLeft, kHitTop, kHitRight, kHitBottom}) {
        const BarRect edge = EdgeRect(window, hit);
        if (edge.width() > 0 && edge.height() > 0 && edge.contains(p)) {
            return hit;
        }
    }
    const BarRect close = CloseRect();
    const BarPoint local{p.x - window.left, p.y - window.top};
    if (close.contains(local)) {
        return kHitClose;
    }
    return kHitClient;
}

BarSize BarGeometry::FloatingLayout(int length, bool lengthIsHeight, bool keep) {
    if (!keep) {
        (lengthIsHeight ? floatSize.cy : floatSize.cx) = length;
    }
    floatSize.cx = std::max(floatSize.cx, minSize.cx);
    floatSize.cy = std::max(floatSize.cy, minSize.cy);
    return floatSize;
}

BarSize BarGeometry::FixedLayout() const {
    const BarSize& s = DockedSize();
    return {std::max(s.cx, minSize.cx), std::max(s.cy, minSize.cy)};
}

int BarGeometry::DockedThickness(int wanted, int frameExtent, int minimum) {
    const int limit = std::min(frameExtent - kViewKeepsAtLeast, frameExtent / 2);
    return std::max(std::min(wanted, limit), minimum);
}

BarRect BarGeometry::FloatingOnScreen(const BarRect& wanted, const BarRect& screen,
                                      BarSize minimum) {
    if (screen.width() <= 0 || screen.height() <= 0) {
        return wanted;
    }
    const int width = std::max(std::min(wanted.width(), screen.width() / 3), minimum.cx);
    const int height = std::max(std::min(wanted.height(), screen.height()), minimum.cy);
    // Onto the screen from whichever side it overhangs; the top-left corner wins when it
    // cannot fit.
    const int left = std::max(std::min(wanted.left, screen.right - width), screen.left);
    const int top = std::max(std::min(wanted.top, screen.bottom - height), screen.top);
    return {left, top, left + width, top + height};
}

bool BarGeometry::IsSideDrag(DockSide side, int hit) {
    const bool horz = side == DockSide::Top || side == DockSide::Bottom;
    return horz ? (hit == kHitLeft || hit == kHitRight) : (hit == kHitTop || hit == kHitBottom);
}
