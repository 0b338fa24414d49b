#include "core/session/PcapCaptureFactory.h"

#include "core/session/PcapCaptureEngine.h"

std::unique_ptr<CaptureEngine> PcapCaptureFactory::Create(PacketReceiver& receiver) {
    return std::make_unique<PcapCaptureEngine>(receiver);
}
