#include "core/session/PcapCaptureEngine.h"

#include "core/session/CaptureReceiver.h"

PcapCaptureEngine::PcapCaptureEngine(CaptureReceiver& receiver)
    : receiver_(receiver), capture_(*this) {}

PcapCaptureEngine::~PcapCaptureEngine() {
    capture_.Stop();
}

void PcapCaptureEngine::Start(const AdapterEntry& adapter) {
    // Receive-all on: the adapter is put into promiscuous mode.
    capture_.Start(1, adapter);
}

void PcapCaptureEngine::Stop() {
    capture_.Stop();
}

void PcapCaptureEngine::OnCapturedPacket(const CapturedPacket* packet) {
    receiver_.OnCapturedPacket(packet);
}

void PcapCaptureEngine::OnCaptureStatus(const CaptureStatus& status) {
    if (status.state == CaptureStatus::kFailed || status.state == CaptureStatus::kLost) {
        receiver_.OnCaptureFailed(status.interfaceName, status.message,
                                  status.state == CaptureStatus::kLost);
    }
}
