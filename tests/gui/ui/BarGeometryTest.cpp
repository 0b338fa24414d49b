#include <gtest/gtest.h>

#include "gui/ui/BarGeometry.h"
#include "gui/ui/DockRow.h"
#include "gui/ui/ResizeTracker.h"

namespace {

BarGeometry docked(DockSide side, BarSize size = {150, 300}) {
    BarGeometry bar;
    bar.SetDefault(size, true);
    bar.side = side;
    return bar;
}

constexpr BarRect kWindow{0, 0, 150, 300};

struct EdgeCase {
    DockSide side;
    bool hasPrev;
    bool hasNext;
    int edges;
    BarRect client;
    BarPoint close;
};

TEST(BarGeometry, EdgesClientAndCloseButtonPerDockSide) {
    const EdgeCase cases[] = {
        // Alone at the left: only the right edge drags; gripper strip on top, close at its end.
        {DockSide::Left, false, false, kEdgeRight, {5, 17, 145, 295}, {134, 4}},
        {DockSide::Right, false, false, kEdgeLeft, {5, 17, 145, 295}, {134, 4}},
        // At the top: bottom edge; gripper strip on the left, close at its head.
        {DockSide::Top, false, false, kEdgeBottom, {17, 5, 145, 295}, {4, 4}},
        {DockSide::Bottom, false, false, kEdgeTop, {17, 5, 145, 295}, {4, 4}},
        // Between two bars of a left row: top and bottom edges too.
        {DockSide::Left,
         true,
         true,
         kEdgeRight | kEdgeTop | kEdgeBottom,
         {5, 17, 145, 295},
         {134, 4}},
        // Last of a top row: its left edge too.
        {DockSide::Top, true, false, kEdgeBottom | kEdgeLeft, {17, 5, 145, 295}, {4, 4}},
        // Floating: nothing drags, no gripper room.
        {DockSide::Floating, true, true, 0, {5, 5, 145, 295}, {134, -8}},
    };
    for (const EdgeCase& c : cases) {
        BarGeometry bar = docked(c.side);
        const BarRect client = bar.CalcClient(kWindow, c.hasPrev, c.hasNext);
        EXPECT_EQ(bar.edges, c.edges) << static_cast<int>(c.side);
        EXPECT_EQ(client, c.client) << static_cast<int>(c.side);
        EXPECT_EQ(bar.closeOrigin, c.close) << static_cast<int>(c.side);
    }
}

TEST(BarGeometry, EdgeRectsAreFiveWideAndShortenedAcrossTheRow) {
    BarGeometry left = docked(DockSide::Left);
    left.CalcClient(kWindow, true, false);
    EXPECT_EQ(left.EdgeRect(kWindow, kHitRight), (BarRect{145, 0, 150, 300}));
    // Top edge between two bars of a vertical row stops 5 pixels short of both corners.
    EXPECT_EQ(left.EdgeRect(kWindow, kHitTop), (BarRect{5, 0, 145, 5}));
    EXPECT_EQ(left.EdgeRect(kWindow, kHitLeft), BarRect{});
    EXPECT_EQ(left.EdgeRect(kWindow, kHitBottom), BarRect{});

    BarGeometry top = docked(DockSide::Top);
    top.CalcClient(kWindow, false, true);
    EXPECT_EQ(top.EdgeRect(kWindow, kHitBottom), (BarRect{0, 295, 150, 300}));
    EXPECT_EQ(top.EdgeRect(kWindow, kHitRight), (BarRect{145, 5, 150, 295}));
}

TEST(BarGeometry, HitTestOrderEdgesThenCloseThenClient) {
    BarGeometry bar = docked(DockSide::Left);
    bar.CalcClient(kWindow, true, false);
    const struct {
        BarPoint point;
        int hit;
    } cases[] = {
        {{147, 150}, kHitRight}, {{146, 2}, kHitRight},  // the top edge stops short of it
        {{50, 2}, kHitTop},      {{134, 4}, kHitTop},
        {{138, 8}, kHitClose},   {{144, 14}, kHitClose},
        {{130, 8}, kHitClient},  {{2, 150}, kHitClient},  // the left border is no edge
        {{70, 150}, kHitClient}, {{70, 298}, kHitClient},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bar.HitTest(kWindow, c.point), c.hit) << c.point.x << "," << c.point.y;
    }
}

struct ThicknessCase {
    int wanted;
    int frameExtent;
    int expected;
};

TEST(BarGeometry, DockedBarNeverSqueezesTheView) {
    const ThicknessCase cases[] = {
        {150, 1200, 150},                  // room enough
        {900, 1200, 600},                  // half the frame at most
        {500, 700, 350},                   // ... and the view keeps its 320 pixels
        {300, 500, 180},  {200, 300, 33},  // a frame too small for both: the bar's minimum
        {10, 1200, 33},
    };
    for (const ThicknessCase& c : cases) {
        EXPECT_EQ(BarGeometry::DockedThickness(c.wanted, c.frameExtent, 33), c.expected)
            << c.wanted << " in " << c.frameExtent;
    }
}

struct FloatCase {
    BarRect wanted;
    BarRect expected;
};

TEST(BarGeometry, FloatingBarLiesOnScreenAtASensibleWidth) {
    const BarRect screen{0, 0, 1920, 1080};
    const FloatCase cases[] = {
        {{100, 100, 300, 500}, {100, 100, 300, 500}},        // already fine
        {{100, 100, 1500, 500}, {100, 100, 740, 500}},       // a third of the screen at most
        {{1800, 900, 2000, 1200}, {1720, 780, 1920, 1080}},  // pulled back from the right/bottom
        {{-500, -50, -300, 250}, {0, 0, 200, 300}},          // and from the left/top
        {{10, 10, 20, 20}, {10, 10, 43, 42}},                // never below the minimum
        {{0, 0, 200, 5000}, {0, 0, 200, 1080}},              // no taller than the screen
    };
    for (const FloatCase& c : cases) {
        EXPECT_EQ(BarGeometry::FloatingOnScreen(c.wanted, screen, {33, 32}), c.expected)
            << c.wanted.left << "," << c.wanted.top;
    }
    // A second screen to the right counts from its own origin.
    EXPECT_EQ(BarGeometry::FloatingOnScreen({1900, 10, 2100, 310}, {1920, 0, 3840, 1080}, {33, 32}),
              (BarRect{1920, 10, 2120, 310}));
}

TEST(BarGeometry, FloatingSizeNeverBelowMinimum) {
    BarGeometry bar = docked(DockSide::Floating);
    EXPECT_EQ(bar.FloatingLayout(10, false, false), (BarSize{33, 300}));
    EXPECT_EQ(bar.FloatingLayout(5, true, false), (BarSize{33, 32}));
    EXPECT_EQ(bar.FloatingLayout(400, true, true), (BarSize{33, 32}));  // kept, not stored
    EXPECT_EQ(bar.FloatingLayout(120, false, false), (BarSize{120, 32}));
}

TEST(ResizeTracker, WidthStopsAtRowMinimumAndShortOfClosingThePane) {
    BarGeometry bar = docked(DockSide::Left);
    BarGeometry below = docked(DockSide::Left);
    below.minSize = {40, 32};
    bar.CalcClient(kWindow, false, true);
    ResizeTracker tracker;
    // Main pane 500 wide: the bar may take all but 4 pixels of it.
    tracker.begin({&bar, &below}, 0, kHitRight, kWindow, {500, 300});
    EXPECT_EQ(tracker.minTrack().cx, 40);
    EXPECT_EQ(tracker.maxTrack().cx, 500 + 150 - 4);
    const BarPoint start = bar.EdgeRect(kWindow, kHitRight).center();

    EXPECT_TRUE(tracker.track({start.x + 1000, start.y}));
    EXPECT_EQ(bar.vertSize.cx, 646);
    EXPECT_EQ(below.vertSize.cx, 646);  // the whole row takes the new thickness
    EXPECT_TRUE(tracker.track({start.x - 1000, start.y}));
    EXPECT_EQ(bar.vertSize.cx, 40);
    EXPECT_FALSE(tracker.track({start.x - 2000, start.y}));  // unchanged: nothing to do
    EXPECT_TRUE(tracker.track({start.x + 10, start.y}));
    EXPECT_EQ(bar.vertSize.cx, 160);
    EXPECT_EQ(tracker.trackerOffset(), (BarPoint{10, 0}));
    tracker.end();
    EXPECT_FALSE(tracker.track({start.x + 50, start.y}));
    EXPECT_EQ(bar.vertSize.cx, 160);
}

TEST(ResizeTracker, LeftEdgeTrackerFollowsTheMouse) {
    BarGeometry bar = docked(DockSide::Right);
    bar.CalcClient(kWindow, false, false);
    ResizeTracker tracker;
    tracker.begin({&bar}, 0, kHitLeft, kWindow, {500, 300});
    const BarPoint start = bar.EdgeRect(kWindow, kHitLeft).center();
    EXPECT_TRUE(tracker.track({start.x - 20, start.y}));
    EXPECT_EQ(bar.vertSize.cx, 170);
    EXPECT_EQ(tracker.trackerOffset(), (BarPoint{-20, 0}));
}

TEST(ResizeTracker, SideDragMovesLengthBetweenNeighbours) {
    BarGeometry first = docked(DockSide::Top, {200, 60});
    BarGeometry second = docked(DockSide::Top, {300, 60});
    const BarRect window{0, 0, 200, 60};
    first.CalcClient(window, false, true);
    ResizeTracker tracker;
    tracker.begin({&first, &second}, 0, kHitRight, window, {800, 400});
    EXPECT_TRUE(tracker.sideDrag());
    EXPECT_EQ(tracker.maxTrack().cx, 300 + 200 - 33);
    const BarPoint start = first.EdgeRect(window, kHitRight).center();
    const int total = first.horzSize.cx + second.horzSize.cx;
    EXPECT_TRUE(tracker.track({start.x + 50, start.y}));
    EXPECT_EQ(first.horzSize.cx, 250);
    EXPECT_EQ(second.horzSize.cx, 250);
    EXPECT_TRUE(tracker.track({start.x + 1000, start.y}));
    EXPECT_EQ(second.horzSize.cx, 33);
    EXPECT_EQ(first.horzSize.cx + second.horzSize.cx, total);
}

TEST(DockRow, SharesLengthPixelByPixelSparingKeptAndMinimumBars) {
    BarGeometry a = docked(DockSide::Top, {100, 40});
    BarGeometry b = docked(DockSide::Top, {100, 70});
    std::vector<BarGeometry*> row{&a, &b};
    // used = 98 + 98; grow by 10: five pixels each, thickness the row's largest.
    EXPECT_EQ(DockRow::ShareRowSpace(row, 206), DockRow::Share::Done);
    EXPECT_EQ(a.horzSize, (BarSize{105, 70}));
    EXPECT_EQ(b.horzSize, (BarSize{105, 70}));

    b.keepSize = true;
    EXPECT_EQ(DockRow::ShareRowSpace(row, 196), DockRow::Share::Done);
    EXPECT_EQ(a.horzSize.cx, 95);
    EXPECT_EQ(b.horzSize.cx, 105);
    EXPECT_FALSE(b.keepSize);  // cleared after one sharing

    // Shrinking stops at the minimum length of each bar.
    EXPECT_EQ(DockRow::ShareRowSpace(row, 65), DockRow::Share::Done);
    EXPECT_EQ(a.horzSize.cx, 33);
    EXPECT_EQ(b.horzSize.cx, 36);
}

TEST(DockRow, TooShortRowAsksForARowOfItsOwn) {
    BarGeometry a = docked(DockSide::Top, {100, 40});
    BarGeometry b = docked(DockSide::Top, {100, 40});
    std::vector<BarGeometry*> pair{&a, &b};
    // needed = 2 + 31 + 31 = 64
    EXPECT_EQ(DockRow::ShareRowSpace(pair, 63), DockRow::Share::NeedsOwnRow);
    EXPECT_EQ(a.horzSize.cx, 100);  // nothing changed
    std::vector<BarGeometry*> alone{&a};
    EXPECT_EQ(DockRow::ShareRowSpace(alone, 10), DockRow::Share::TooShort);
}

TEST(DockRow, LayoutOverlapsNeighboursByTwoPixels) {
    BarGeometry a = docked(DockSide::Top, {100, 40});
    BarGeometry b = docked(DockSide::Top, {50, 40});
    EXPECT_EQ(DockRow::LayoutRow({&a, &b}), (std::vector<int>{-2, 96}));
    BarGeometry c = docked(DockSide::Left, {40, 100});
    BarGeometry d = docked(DockSide::Left, {40, 60});
    EXPECT_EQ(DockRow::LayoutRow({&c, &d}), (std::vector<int>{-2, 96}));
}

}  // namespace
