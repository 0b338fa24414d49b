#pragma once

#include <string>

struct CapturedPacket;

// What a running capture calls back, always on its own thread.
class CaptureReceiver {
  public:
    virtual ~CaptureReceiver() = default;

    // Every received datagram, synchronously; the packet is valid only during the call.
    virtual void OnCapturedPacket(const CapturedPacket* packet) = 0;

    // The capture could not be opened (`lost` false: no rights, interface down) or ended by
    // itself later (`lost` true: interface gone). The capture thread ends after this call.
    virtual void OnCaptureFailed(const std::string& interfaceName, const std::string& message,
                                 bool lost) = 0;
};
