#pragma once

#include <cstdint>

#include "core/flow/HeldSegments.h"

// Where one direction of a connection stands: the next byte expected, what is held beyond it,
// and whether its FIN has been reached or its bytes were given up after a loss.
struct FlowSide {
    bool started = false;
    bool finished = false;        // its FIN came with every byte before it delivered
    bool lost = false;            // bytes of it were lost: nothing more of it is delivered
    std::uint32_t startSeq = 0;   // sequence number of its first byte
    std::uint32_t nextSeq = 0;    // sequence number of the next byte to deliver
    std::uint64_t delivered = 0;  // bytes delivered: the stream offset of nextSeq
    HeldSegments held;

    void start(std::uint32_t firstSeq) {
        started = true;
        startSeq = nextSeq = firstSeq;
    }

    void advance(std::uint32_t bytes) {
        nextSeq += bytes;
        delivered += bytes;
    }

    // The sequence number the peer acknowledges once it has everything we delivered: a FIN
    // takes one number of its own.
    std::uint32_t consumedThrough() const { return nextSeq + (finished ? 1 : 0); }
};
