#pragma once

#include <vector>

#include "gui/ui/BarGeometry.h"

// How the resizable bars of one dock row share its length.
class DockRow {
  public:
    enum class Share { Done, TooShort, NeedsOwnRow };

    // `row`: the resizable bars in row order; `length`: the row's length, already without the
    // extents of the row's other bars. Gives every bar the row's largest thickness and hands
    // out the difference between `length` and their total, one pixel at a time, sparing bars
    // that keep their size and bars at their minimum. NeedsOwnRow when even the minimum
    // lengths do not fit: NeedsOwnRow when the row holds other bars (the caller moves the bar
    // into a row of its own), TooShort when it is alone; nothing changes then.
    static Share ShareRowSpace(const std::vector<BarGeometry*>& row, int length);

    // Positions along the row of each bar, each overlapping the previous one by 2 pixels.
    static std::vector<int> LayoutRow(const std::vector<BarGeometry*>& row);
};
