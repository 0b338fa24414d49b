#pragma once

#include <cstdint>
#include <span>

// One frame of a packet's payload, as far as a reader of the traffic needs it. Byte spans point
// into the payload.
struct QuicFrame {
    enum class Kind {
        Padding,
        Ping,
        Ack,
        ResetStream,
        StopSending,
        Crypto,
        NewToken,
        Stream,
        MaxData,
        MaxStreamData,
        MaxStreams,
        DataBlocked,
        StreamDataBlocked,
        StreamsBlocked,
        NewConnectionId,
        RetireConnectionId,
        PathChallenge,
        PathResponse,
        ConnectionClose,
        HandshakeDone,
        Datagram,
    };

    Kind kind = Kind::Padding;
    std::uint64_t type = 0;           // the frame type as sent
    std::uint64_t stream = 0;         // ResetStream, StopSending, Stream, MaxStreamData, ...
    std::uint64_t offset = 0;         // Stream, Crypto; ResetStream: the final size
    std::uint64_t sequence = 0;       // NewConnectionId, RetireConnectionId
    std::uint64_t retirePriorTo = 0;  // NewConnectionId
    bool fin = false;                 // Stream
    // Stream, Crypto, Datagram: the data; NewToken: the token; NewConnectionId: the ID;
    // ConnectionClose: the reason phrase; PathChallenge/PathResponse: the 8 bytes.
    std::span<const std::uint8_t> data;
};
