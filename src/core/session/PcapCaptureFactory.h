#pragma once

#include "core/session/CaptureFactory.h"

// Creates live captures.
class PcapCaptureFactory : public CaptureFactory {
  public:
    std::unique_ptr<CaptureEngine> Create(PacketReceiver& receiver) override;
};
