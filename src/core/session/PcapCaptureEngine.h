#pragma once

#include "core/session/CaptureEngine.h"
#include "core/capture/CPacketCapture.h"
#include "core/capture/PacketReceiver.h"

class CaptureReceiver;

// The frame's capture engine on the live capture: packets pass straight through on the
// capture thread, failures are reported once.
class PcapCaptureEngine : public CaptureEngine, private PacketReceiver {
  public:
    explicit PcapCaptureEngine(CaptureReceiver& receiver);
    ~PcapCaptureEngine() override;

    void Start(const AdapterEntry& adapter) override;
    void Stop() override;

  private:
    void OnCapturedPacket(const CapturedPacket* packet) override;
    void OnCaptureStatus(const CaptureStatus& status) override;

    CaptureReceiver& receiver_;
    CPacketCapture capture_;
};
