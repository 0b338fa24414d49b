#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "core/store/StreamStoreObserver.h"

// Collects a store's news for the thread that shows the rows: whether rows were added and
// which rows were refreshed, each row once however often it changed. The first news after a
// take() calls `wake` (on the thread that made the change, without the lock held), so the
// shower is woken once per batch, never per change.
class StoreChangeQueue : public StreamStoreObserver {
  public:
    struct Changes {
        bool added = false;
        std::vector<int> refreshed;  // in the order first refreshed
    };

    explicit StoreChangeQueue(std::function<void()> wake);

    void rowAdded(int row) override;
    void rowsAdded(int first, int last) override;
    void rowRefreshed(int row) override;
    void storeReset() override;

    // Everything collected so far; the next change wakes again.
    Changes take();
    // Forgets what was collected (the rows it named are gone).
    void clear();

  private:
    void note(int refreshedRow);

    std::function<void()> wake_;
    std::mutex mutex_;
    Changes changes_;
    std::vector<bool> refreshPending_;  // by row
    bool woken_ = false;
};
