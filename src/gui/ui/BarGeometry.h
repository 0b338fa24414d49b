#pragma once

#include <algorithm>

// Plain geometry of a resizable docking bar, free of any toolkit: sizes, draggable edges, the
// gripper strip and close button, the hit test. Rectangles are half-open [left, right).
struct BarSize {
    int cx = 0;
    int cy = 0;
    friend bool operator==(const BarSize&, const BarSize&) = default;
};

struct BarPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const BarPoint&, const BarPoint&) = default;
};

struct BarRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool contains(BarPoint p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    BarPoint center() const { return {(left + right) / 2, (top + bottom) / 2}; }
    friend bool operator==(const BarRect&, const BarRect&) = default;
};

enum class DockSide { Floating, Top, Left, Right, Bottom };

// Hit-test codes of the bar's non-client area.
enum BarHit : int {
    kHitClient = 1,
    kHitLeft = 10,
    kHitRight = 11,
    kHitTop = 12,
    kHitBottom = 15,
    kHitClose = 20,
};

// Which edges can be dragged.
enum BarEdge : int {
    kEdgeLeft = 1,
    kEdgeRight = 2,
    kEdgeTop = 4,
    kEdgeBottom = 8,
};

class BarGeometry {
  public:
    static constexpr int kEdgeWidth = 5;
    static constexpr int kGripperSize = 12;
    static constexpr int kCloseSize = 11;

    BarSize horzSize{200, 200};
    BarSize vertSize{200, 200};
    BarSize floatSize{200, 200};
    BarSize minSize{33, 32};
    int gripperSize = kGripperSize;
    DockSide side = DockSide::Floating;
    int edges = 0;
    BarPoint closeOrigin;
    bool keepSize = false;

    bool IsDocked() const { return side != DockSide::Floating; }
    // Docked at the top or bottom: the bar lies along a horizontal row.
    bool IsHorzDock() const { return side == DockSide::Top || side == DockSide::Bottom; }
    BarSize& DockedSize() { return IsHorzDock() ? horzSize : vertSize; }
    const BarSize& DockedSize() const { return IsHorzDock() ? horzSize : vertSize; }

    // Length along the row and thickness across it, of a size as this bar is docked.
    int AlongRow(const BarSize& s) const { return IsHorzDock() ? s.cx : s.cy; }
    int AcrossRow(const BarSize& s) const { return IsHorzDock() ? s.cy : s.cx; }

    // Sets the three sizes to the bar's default and the gripper on or off.
    void SetDefault(BarSize size, bool hasGripper);

    // The client rectangle inside `window`; recomputes the draggable edges and the close
    // button. `hasPrev`/`hasNext`: resizable bars before or after this one in its dock row.
    BarRect CalcClient(const BarRect& window, bool hasPrev, bool hasNext);

    // The strip of `window` that drags the edge `hit`; empty when that edge is not draggable.
    BarRect EdgeRect(const BarRect& window, int hit) const;

    // Non-client hit test of a point in the coordinates of `window` (docked bars only).
    int HitTest(const BarRect& window, BarPoint p) const;

    BarRect CloseRect() const {
        return {closeOrigin.x, closeOrigin.y, closeOrigin.x + kCloseSize,
                closeOrigin.y + kCloseSize};
    }

    // The size a floating bar answers: stores `length` as its width or height unless `keep`,
    // never below the minimum.
    BarSize FloatingLayout(int length, bool lengthIsHeight, bool keep);

    // The fixed size the bar answers while docked, never below the minimum.
    BarSize FixedLayout() const;

    static bool IsSideDrag(DockSide side, int hit);

    // Room a docked bar always leaves to the frame's main view, in pixels across the row.
    static constexpr int kViewKeepsAtLeast = 320;
    // The thickness a docked bar takes in a frame `frameExtent` across: what it wants, but
    // never more than leaves the main view kViewKeepsAtLeast or half the frame, never below
    // `minimum`.
    static int DockedThickness(int wanted, int frameExtent, int minimum);
    // A floating bar's rectangle on `screen`: at most a third of the screen wide (and the
    // screen high), never below the minimum, moved to lie wholly on it.
    static BarRect FloatingOnScreen(const BarRect& wanted, const BarRect& screen, BarSize minimum);
};
