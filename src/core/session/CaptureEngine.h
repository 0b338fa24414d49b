#pragma once

#include "core/capture/CPacketCapture.h"
#include "core/capture/CaptureStatus.h"
#include "core/detect/TlsPorts.h"
#include "core/detect/WatchedPorts.h"

struct AdapterEntry;

// One capture on one adapter, as the session drives it: started once, stopped before
// destruction. The live one runs the capture helper (HelperCaptureEngine); tests substitute
// a fake.
class CaptureEngine {
  public:
    virtual ~CaptureEngine() = default;

    // The ports the kernel filter lets through, for the next Start; the three fixed ones
    // unless set. An engine without a kernel filter ignores them.
    virtual void SetWatchedPorts(const WatchedPorts& ports) { (void)ports; }
    // The ports whose connections are followed both ways; before Start.
    virtual void SetTlsPorts(const TlsPorts& ports) { (void)ports; }

    // Returns at once; the outcome of opening arrives through PacketReceiver::OnCaptureStatus.
    virtual void Start(const AdapterEntry& adapter) = 0;

    // Returns only when the capture thread has ended and calls its receiver no more.
    virtual void Stop() = 0;

    virtual CaptureStatus Status() const = 0;

    // Counts of the last run (kept across Stop).
    virtual CPacketCapture::Statistics LastStatistics() const { return {}; }
};
