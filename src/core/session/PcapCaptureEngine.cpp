#include "core/session/PcapCaptureEngine.h"

PcapCaptureEngine::PcapCaptureEngine(PacketReceiver& receiver) : capture_(receiver) {}

PcapCaptureEngine::~PcapCaptureEngine() {
    capture_.Stop();
}

void PcapCaptureEngine::SetWatchedPorts(const WatchedPorts& ports) {
    ports_ = ports;
}

void PcapCaptureEngine::Start(const AdapterEntry& adapter) {
    // Receive-all on: the adapter is put into promiscuous mode.
    capture_.Start(1, adapter, ports_);
}

void PcapCaptureEngine::Stop() {
    capture_.Stop();
}

CaptureStatus PcapCaptureEngine::Status() const {
    return capture_.Status();
}

CPacketCapture::Statistics PcapCaptureEngine::LastStatistics() const {
    return capture_.LastStatistics();
}
