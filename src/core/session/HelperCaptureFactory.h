#pragma once

#include <string>

#include "core/session/CaptureFactory.h"

// Creates live captures run by the capture helper; the helper is looked for once, at the
// first start, unless a path is given.
class HelperCaptureFactory : public CaptureFactory {
  public:
    explicit HelperCaptureFactory(std::string helperPath = {});
    std::unique_ptr<CaptureEngine> Create(PacketReceiver& receiver) override;

  private:
    std::string helperPath_;
};
