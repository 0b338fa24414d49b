#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/capture/CaptureStatus.h"
#include "core/capture/CapturedPacket.h"

// The owner's side of the capture engine. Every call comes on the capture thread.
class PacketReceiver {
  public:
    virtual ~PacketReceiver() = default;

    // One IPv4 or IPv6 datagram; `packet` is valid only during the call. Copy what you keep.
    virtual void OnCapturedPacket(const CapturedPacket* packet) = 0;

    // A datagram longer than a CapturedPacket holds, whole: above all a TLS port's segment that
    // the sender's offload has not split yet (a plain segment comes cut to a packet's size).
    // `datagram` is valid only during the call. Without an override its first kCapacity bytes go to
    // OnCapturedPacket, as a cut datagram would.
    virtual void OnLargeDatagram(const std::uint8_t* datagram, std::uint32_t length) {
        CapturedPacket cut;
        cut.length = std::min(length, CapturedPacket::kCapacity);
        std::memcpy(cut.data, datagram, cut.length);
        OnCapturedPacket(&cut);
    }

    // The capture has handed over every packet it had at hand and is about to wait for more:
    // a receiver that collects packets passes them on now.
    virtual void OnPacketBatchEnd() {}

    // No packet came for a while (about kIdleMilliseconds): work that waits for time rather
    // than for packets gets its turn. Not every capture engine calls it.
    static constexpr int kIdleMilliseconds = 100;
    virtual void OnIdle() {}

    // The capture opened (kRunning) or ended by itself (kFailed, kLost). Not called for a
    // stop the owner asked for.
    virtual void OnCaptureStatus(const CaptureStatus& status) { (void)status; }
};
