#include "core/session/HelperCaptureFactory.h"

#include "core/session/CaptureHelperPath.h"
#include "core/session/HelperCaptureEngine.h"

HelperCaptureFactory::HelperCaptureFactory(std::string helperPath)
    : helperPath_(std::move(helperPath)) {}

std::unique_ptr<CaptureEngine> HelperCaptureFactory::Create(PacketReceiver& receiver) {
    if (helperPath_.empty()) {
        helperPath_ = CaptureHelperPath::find();
    }
    return std::make_unique<HelperCaptureEngine>(receiver, helperPath_);
}
