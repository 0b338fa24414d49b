#pragma once

#include <vector>

#include "gui/ui/BarGeometry.h"

// One edge drag of a docked bar: the limits fixed when the drag begins, the size that follows
// the mouse, and what the neighbours of its dock row give or take.
class ResizeTracker {
  public:
    // `row`: the resizable bars of the dragged bar's row, in row order; `self` its index.
    // `window`: the bar's window rectangle in the same co-ordinates as later mouse points.
    // `paneLeft`: the size of the frame's main pane (for drags that change the row's thickness).
    void begin(std::vector<BarGeometry*> row, int self, int hit, const BarRect& window,
               BarSize paneLeft);

    // Moves the dragged edge to `point`; true when the bar's size changed.
    bool track(BarPoint point);

    void end() { tracking_ = false; }

    bool tracking() const { return tracking_; }
    bool sideDrag() const { return sideDrag_; }
    int hit() const { return hit_; }
    BarSize minTrack() const { return minTrack_; }
    BarSize maxTrack() const { return maxTrack_; }

    // Offset of the tracker line from the edge where the drag began: follows the mouse, so it
    // is negated for a left or top edge.
    BarPoint trackerOffset() const;

    // The neighbour that gives or takes length in a side drag; null otherwise.
    BarGeometry* neighbour() const;

  private:
    BarGeometry& self() const { return *row_[self_]; }

    std::vector<BarGeometry*> row_;
    int self_ = 0;
    int hit_ = 0;
    bool tracking_ = false;
    bool sideDrag_ = false;
    BarSize startSize_;
    BarPoint startPoint_;
    BarSize minTrack_;
    BarSize maxTrack_;
};
