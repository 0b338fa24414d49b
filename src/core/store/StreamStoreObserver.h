#pragma once

// Told of changes to a StreamStore. Called on the thread that made the change, after the
// store has released its lock, so an observer may read the store; it must return quickly
// (queue the news for its own thread) and never wait for the thread that called it.
class StreamStoreObserver {
  public:
    virtual ~StreamStoreObserver() = default;

    virtual void rowAdded(int row) = 0;
    virtual void rowRefreshed(int row) = 0;
    virtual void storeReset() {}
};
