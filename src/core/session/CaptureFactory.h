#pragma once

#include <memory>

#include "core/session/CaptureEngine.h"

class PacketReceiver;

// Creates the capture engine for a start of monitoring; tests substitute a fake.
class CaptureFactory {
  public:
    virtual ~CaptureFactory() = default;
    virtual std::unique_ptr<CaptureEngine> Create(PacketReceiver& receiver) = 0;
};
