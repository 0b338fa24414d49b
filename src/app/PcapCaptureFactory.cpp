#include "app/PcapCaptureFactory.h"

#include "app/PcapCaptureEngine.h"

std::unique_ptr<CaptureEngine> PcapCaptureFactory::Create(CaptureReceiver& receiver) {
    return std::make_unique<PcapCaptureEngine>(receiver);
}
