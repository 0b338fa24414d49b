#pragma once

// Told of changes to a StreamStore. Called on the thread that made the change, after the
// store has released its lock, so an observer may read the store; it must return quickly
// (queue the news for its own thread) and never wait for the thread that called it.
class StreamStoreObserver {
  public:
    virtual ~StreamStoreObserver() = default;

    virtual void rowAdded(int row) = 0;
    // Rows `first` to `last` were added by one group of additions.
    virtual void rowsAdded(int first, int last) {
        for (int row = first; row <= last; ++row) {
            rowAdded(row);
        }
    }
    virtual void rowRefreshed(int row) = 0;
    virtual void storeReset() {}
};
