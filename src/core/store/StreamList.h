#pragma once

struct DetectedStream;

// The one way rows are added (update 0) and refreshed (update 1). Implemented by the
// Qt-free stream store and, over it, by the desktop program's list view.
class StreamList {
  public:
    virtual ~StreamList() = default;

    // update 0: append a copy of `record` unless a row with the same host and path exists.
    // update 1: refresh the matching row's four column texts from the list's own copy.
    // Safe to call from any thread; never waits for the user interface.
    virtual int AddOrUpdateStream(const DetectedStream* record, int update) = 0;
};
