#pragma once

#include <QRect>

// Where the main window opens when no earlier run left its geometry behind.
class WindowPlacement {
  public:
    // Part of the screen a first window takes, in per cent of each side.
    static constexpr int kFirstShare = 70;
    static constexpr int kMinWidth = 640;
    static constexpr int kMinHeight = 480;

    // kFirstShare of the available area, never below the minimum unless the screen is smaller,
    // centred on it.
    static QRect firstStart(const QRect& available);
};
