#include "core/store/StoreChangeQueue.h"

StoreChangeQueue::StoreChangeQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

void StoreChangeQueue::rowAdded(int /*row*/) {
    note(-1);
}

void StoreChangeQueue::rowsAdded(int /*first*/, int /*last*/) {
    note(-1);  // once for the group: the news is only that rows came
}

void StoreChangeQueue::rowRefreshed(int row) {
    note(row);
}

void StoreChangeQueue::storeReset() {
    clear();
}

void StoreChangeQueue::note(int refreshedRow) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (refreshedRow < 0) {
            changes_.added = true;
        } else {
            const auto row = static_cast<std::size_t>(refreshedRow);
            if (row >= refreshPending_.size()) {
                refreshPending_.resize(row + 1);
            }
            if (!refreshPending_[row]) {
                refreshPending_[row] = true;
                changes_.refreshed.push_back(refreshedRow);
            }
        }
        wake = !woken_;
        woken_ = true;
    }
    if (wake && wake_) {
        wake_();
    }
}

StoreChangeQueue::Changes StoreChangeQueue::take() {
    std::lock_guard lock(mutex_);
    Changes taken = std::move(changes_);
    changes_ = {};
    for (int row : taken.refreshed) {
        refreshPending_[static_cast<std::size_t>(row)] = false;
    }
    woken_ = false;
    return taken;
}

void StoreChangeQueue::clear() {
    std::lock_guard lock(mutex_);
    changes_ = {};
    refreshPending_.clear();
}
