#pragma once

#include "core/capture/CPacketCapture.h"
#include "core/session/CaptureEngine.h"

// The live capture: packets and status reports go straight to the receiver, on the capture
// thread.
class PcapCaptureEngine : public CaptureEngine {
  public:
    explicit PcapCaptureEngine(PacketReceiver& receiver);
    ~PcapCaptureEngine() override;

    void SetWatchedPorts(const WatchedPorts& ports) override;
    void Start(const AdapterEntry& adapter) override;
    void Stop() override;
    CaptureStatus Status() const override;
    CPacketCapture::Statistics LastStatistics() const override;

  private:
    CPacketCapture capture_;
    WatchedPorts ports_;
};
