#pragma once

#include <cstdint>
#include <span>

#include "core/flow/FlowDirection.h"
#include "core/flow/FlowEnd.h"

// Receives one followed connection's bytes, each direction in order. It must not call back into
// the table that feeds it.
class FlowConsumer {
  public:
    virtual ~FlowConsumer() = default;

    // In-order bytes of one direction. `datagram`/`length` is the packet whose arrival released
    // them (its IP and TCP header describe the connection). False: stop following this
    // connection (it ends with GivenUp).
    virtual bool onBytes(FlowDirection direction, std::span<const std::uint8_t> bytes,
                         const std::uint8_t* datagram, std::uint32_t length) = 0;

    // `direction` lost bytes for good. False: the connection ends with Gap. True: that direction
    // is closed for delivery and the other goes on; should the other lose bytes too, the
    // connection ends with Gap whatever the answer.
    virtual bool onGap(FlowDirection /*direction*/) { return false; }

    // Called exactly once, then the consumer is destroyed.
    virtual void onEnd(FlowEnd why) = 0;
};
