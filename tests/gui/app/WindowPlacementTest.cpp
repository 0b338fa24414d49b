#include "gui/app/WindowPlacement.h"

#include <gtest/gtest.h>

namespace {

struct PlacementCase {
    QRect available;
    QRect expected;
};

TEST(WindowPlacement, FirstWindowFitsTheScreenCentred) {
    const PlacementCase cases[] = {
        {{0, 0, 1920, 1080}, {288, 162, 1344, 756}},       // 70 % of a full-HD screen
        {{0, 27, 1366, 741}, {205, 139, 956, 518}},        // below a top panel
        {{1920, 0, 2560, 1440}, {2304, 216, 1792, 1008}},  // a second screen
        {{0, 0, 800, 600}, {80, 60, 640, 480}},            // the minimum on a small screen
        {{0, 0, 600, 400}, {0, 0, 600, 400}},              // never larger than the screen
        {{}, {0, 0, 640, 480}},                            // no screen known
    };
    for (const PlacementCase& c : cases) {
        EXPECT_EQ(WindowPlacement::firstStart(c.available), c.expected)
            << c.available.width() << "x" << c.available.height();
    }
}

}  // namespace
