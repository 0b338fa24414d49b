#pragma once

struct AdapterEntry;

// One capture on one adapter: started once, stopped before destruction.
class CaptureEngine {
  public:
    virtual ~CaptureEngine() = default;

    // Returns at once; failures to open arrive later through CaptureReceiver::OnCaptureFailed.
    virtual void Start(const AdapterEntry& adapter) = 0;

    // Returns only when the capture thread has ended and calls its receiver no more.
    virtual void Stop() = 0;
};
