#include "core/quic/QuicFrameReader.h"

#include "core/quic/QuicConnectionId.h"
#include "core/quic/QuicVarInt.h"

namespace {

using Kind = QuicFrame::Kind;

constexpr std::size_t kStatelessResetTokenLength = 16;
constexpr std::size_t kPathDataLength = 8;

// The frame kinds by type; the STREAM (0x08-0x0F) and DATAGRAM types are handled on their own.
bool kindOf(std::uint64_t type, Kind& kind) {
    static constexpr Kind kFixed[] = {
        Kind::Padding,      // 0x00
        Kind::Ping,         // 0x01
        Kind::Ack,          // 0x02
        Kind::Ack,          // 0x03 with ECN counts
        Kind::ResetStream,  // 0x04
        Kind::StopSending,  // 0x05
        Kind::Crypto,       // 0x06
        Kind::NewToken,     // 0x07
        Kind::Stream,       // 0x08-0x0F
        Kind::Stream,
        Kind::Stream,
        Kind::Stream,
        Kind::Stream,
        Kind::Stream,
        Kind::Stream,
        Kind::Stream,
        Kind::MaxData,             // 0x10
        Kind::MaxStreamData,       // 0x11
        Kind::MaxStreams,          // 0x12 bidirectional
        Kind::MaxStreams,          // 0x13 unidirectional
        Kind::DataBlocked,         // 0x14
        Kind::StreamDataBlocked,   // 0x15
        Kind::StreamsBlocked,      // 0x16
        Kind::StreamsBlocked,      // 0x17
        Kind::NewConnectionId,     // 0x18
        Kind::RetireConnectionId,  // 0x19
        Kind::PathChallenge,       // 0x1A
        Kind::PathResponse,        // 0x1B
        Kind::ConnectionClose,     // 0x1C transport
        Kind::ConnectionClose,     // 0x1D application
        Kind::HandshakeDone,       // 0x1E
    };
    if (type < std::size(kFixed)) {
        kind = kFixed[type];
        return true;
    }
    if (type == 0x30 || type == 0x31) {
        kind = Kind::Datagram;
        return true;
    }
    return false;
}

}  // namespace

QuicFrameReader::Next QuicFrameReader::next(QuicFrame& frame) {
    if (reader_.empty()) {
        return Next::End;
    }
    frame = QuicFrame{};
    if (!QuicVarInt::read(reader_, frame.type)) {
        return Next::Malformed;
    }
    lastType_ = frame.type;
    if (!kindOf(frame.type, frame.kind)) {
        return Next::UnknownType;
    }
    return readBody(frame) ? Next::Frame : Next::Malformed;
}

bool QuicFrameReader::readBody(QuicFrame& frame) {
    std::uint64_t ignored[2] = {};
    switch (frame.kind) {
        case Kind::Padding:
            skipPadding();
            return true;
        case Kind::Ping:
        case Kind::HandshakeDone:
            return true;
        case Kind::Ack:
            return readAck(frame.type == 0x03);
        case Kind::ResetStream:  // stream, error code, final size
            return readVarInts(&frame.stream, 1) && readVarInts(ignored, 1) &&
                   readVarInts(&frame.offset, 1);
        case Kind::StopSending:
        case Kind::MaxStreamData:
        case Kind::StreamDataBlocked:
            return readVarInts(&frame.stream, 1) && readVarInts(ignored, 1);
        case Kind::Crypto:
            return readCrypto(frame);
        case Kind::NewToken:
            return readLengthPrefixed(frame.data) && !frame.data.empty();
        case Kind::Stream:
            return readStream(frame);
        case Kind::MaxData:
        case Kind::MaxStreams:
        case Kind::DataBlocked:
        case Kind::StreamsBlocked:
            return readVarInts(ignored, 1);
        case Kind::NewConnectionId:
            return readNewConnectionId(frame);
        case Kind::RetireConnectionId:
            return readVarInts(&frame.sequence, 1);
        case Kind::PathChallenge:
        case Kind::PathResponse:
            return reader_.bytes(kPathDataLength, frame.data);
        case Kind::ConnectionClose:
            return readConnectionClose(frame);
        case Kind::Datagram:
            if (frame.type == 0x30) {
                return reader_.bytes(reader_.remaining(), frame.data);  // to the packet's end
            }
            return readLengthPrefixed(frame.data);
    }
    return false;
}

// Largest acknowledged, ACK delay, range count, first range, then (gap, length) per range and
// the three ECN counts. Each range takes at least two bytes, so a huge count soon runs out.
bool QuicFrameReader::readAck(bool ecn) {
    std::uint64_t fields[4] = {};
    if (!readVarInts(fields, 4)) {
        return false;
    }
    for (std::uint64_t range = 0; range < fields[2]; ++range) {
        std::uint64_t gapAndLength[2] = {};
        if (!readVarInts(gapAndLength, 2)) {
            return false;
        }
    }
    std::uint64_t counts[3] = {};
    return !ecn || readVarInts(counts, 3);
}

// Type bits: 0x04 an offset follows, 0x02 a length follows (else the data runs to the packet's
// end), 0x01 the stream ends with this data.
bool QuicFrameReader::readStream(QuicFrame& frame) {
    std::uint64_t length = 0;
    frame.fin = (frame.type & 0x01) != 0;
    if (!readVarInts(&frame.stream, 1) ||
        ((frame.type & 0x04) != 0 && !readVarInts(&frame.offset, 1))) {
        return false;
    }
    if ((frame.type & 0x02) == 0) {
        length = reader_.remaining();
    } else if (!readVarInts(&length, 1)) {
        return false;
    }
    return length <= QuicVarInt::kMax - frame.offset && reader_.bytes(length, frame.data);
}

bool QuicFrameReader::readCrypto(QuicFrame& frame) {
    std::uint64_t length = 0;
    return readVarInts(&frame.offset, 1) && readVarInts(&length, 1) &&
           length <= QuicVarInt::kMax - frame.offset && reader_.bytes(length, frame.data);
}

bool QuicFrameReader::readNewConnectionId(QuicFrame& frame) {
    std::span<const std::uint8_t> token;
    return readVarInts(&frame.sequence, 1) && readVarInts(&frame.retirePriorTo, 1) &&
           frame.retirePriorTo <= frame.sequence && reader_.vector(1, frame.data) &&
           !frame.data.empty() && frame.data.size() <= QuicConnectionId::kMaxLength &&
           reader_.bytes(kStatelessResetTokenLength, token);
}

// Error code, the frame type that caused it (transport closes only), reason phrase.
bool QuicFrameReader::readConnectionClose(QuicFrame& frame) {
    std::uint64_t fields[2] = {};
    return readVarInts(fields, frame.type == 0x1C ? 2 : 1) && readLengthPrefixed(frame.data);
}

bool QuicFrameReader::readVarInts(std::uint64_t* values, int count) {
    for (int i = 0; i < count; ++i) {
        if (!QuicVarInt::read(reader_, values[i])) {
            return false;
        }
    }
    return true;
}

bool QuicFrameReader::readLengthPrefixed(std::span<const std::uint8_t>& out) {
    std::uint64_t length = 0;
    return readVarInts(&length, 1) && reader_.bytes(length, out);
}

// Padding comes in runs of zero bytes (most of a padded Initial): one frame for the run.
void QuicFrameReader::skipPadding() {
    std::span<const std::uint8_t> rest;
    ByteReader probe = reader_;
    std::size_t zeros = 0;
    std::uint8_t byte = 0;
    while (probe.u8(byte) && byte == 0) {
        ++zeros;
    }
    reader_.bytes(zeros, rest);
}
