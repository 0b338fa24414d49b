#pragma once

struct DetectedStream;
struct TransferProgress;

// Where rows are added and where a download shows how far it is. Implemented by the Qt-free
// stream store and by the front ends' stand-ins for a row.
class StreamList {
  public:
    virtual ~StreamList() = default;

    // Appends a copy of `record` unless a row with the same host and path exists. Returns the
    // row concerned, or -1 when none took it.
    virtual int addStream(const DetectedStream& record) = 0;
    // The row with the record's host and path shows `progress` and the record's download
    // state. Returns the row, or -1 when none matches. Safe from any thread; never waits for
    // the user interface.
    virtual int showTransfer(const DetectedStream& record, const TransferProgress& progress) = 0;
};
