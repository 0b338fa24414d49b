#include "core/quic/QuicVersion.h"

namespace {

using Type = QuicPacketType;

constexpr QuicVersion kVersions[] = {
    {QuicVersion::kV1,
     {0x38, 0x76, 0x2C, 0xF7, 0xF5, 0x59, 0x34, 0xB3, 0x4D, 0x17,
      0x9A, 0xE6, 0xA4, 0xC8, 0x0C, 0xAD, 0xCC, 0xBB, 0x7F, 0x0A},
     "quic key",
     "quic iv",
     "quic hp",
     "quic ku",
     {Type::Initial, Type::ZeroRtt, Type::Handshake, Type::Retry}},
    {QuicVersion::kV2,
     {0x0D, 0xED, 0xE3, 0xDE, 0xF7, 0x00, 0xA6, 0xDB, 0x81, 0x93,
      0x81, 0xBE, 0x6E, 0x26, 0x9D, 0xCB, 0xF9, 0xBD, 0x2E, 0xD9},
     "quicv2 key",
     "quicv2 iv",
     "quicv2 hp",
     "quicv2 ku",
     {Type::Retry, Type::Initial, Type::ZeroRtt, Type::Handshake}},
};

}  // namespace

const QuicVersion* QuicVersion::find(std::uint32_t wire) {
    for (const QuicVersion& version : kVersions) {
        if (version.wire == wire) {
            return &version;
        }
    }
    return nullptr;
}
