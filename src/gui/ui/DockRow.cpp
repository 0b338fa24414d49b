#include "gui/ui/DockRow.h"

DockRow::Share DockRow::ShareRowSpace(const std::vector<BarGeometry*>& row, int length) {
    if (row.empty()) {
        return Share::Done;
    }
    int used = 0;
    int needed = 2;
    int thickness = 0;
    for (const BarGeometry* bar : row) {
        used += bar->AlongRow(bar->DockedSize()) - 2;
        needed += bar->AlongRow(bar->minSize) - 2;
        thickness = std::max(thickness, bar->AcrossRow(bar->DockedSize()));
    }
    if (length < needed) {
        return row.size() > 1 ? Share::NeedsOwnRow : Share::TooShort;
    }
    for (BarGeometry* bar : row) {
        (bar->IsHorzDock() ? bar->horzSize.cy : bar->vertSize.cx) = thickness;
    }
    int diff = length - used;
    bool changed = true;
    while (diff != 0 && changed) {
        changed = false;
        for (BarGeometry* bar : row) {
            if (diff == 0) {
                break;
            }
            int& along = bar->IsHorzDock() ? bar->horzSize.cx : bar->vertSize.cy;
            const int minimum = bar->AlongRow(bar->minSize);
            if (bar->keepSize || (diff < 0 && along <= minimum)) {
                continue;
            }
            const int step = diff > 0 ? 1 : -1;
            along += step;
            diff -= step;
            changed = true;
        }
    }
    for (BarGeometry* bar : row) {
        bar->keepSize = false;
    }
    return Share::Done;
}

std::vector<int> DockRow::LayoutRow(const std::vector<BarGeometry*>& row) {
    std::vector<int> positions;
    if (row.empty()) {
        return positions;
    }
    // A horizontal row starts 2 pixels before its dock bar; in a vertical one each bar sits
    // 2 pixels above its running position.
    const bool horz = row.front()->IsHorzDock();
    int position = horz ? -2 : 0;
    for (const BarGeometry* bar : row) {
        positions.push_back(horz ? position : position - 2);
        position += bar->AlongRow(bar->DockedSize()) - 2;
    }
    return positions;
}
