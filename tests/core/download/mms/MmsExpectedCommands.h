#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// The client's command packets as the wire table lays them out, built independently of the
// client so that tests compare its output byte for byte.
namespace mms_expected {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kPong = 0x1B;

struct Command {
    std::uint16_t id;
    std::uint32_t argument1;
    std::uint32_t argument2;
    Bytes body;
};

inline void Put32(Bytes& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The packet exactly as the wire table lays it out.
inline Bytes Expected(const Command& command, std::uint32_t sequence) {
    const std::uint32_t blocks = static_cast<std::uint32_t>((command.body.size() + 7) / 8);
    Bytes out(48 + 8 * blocks, 0);
    out[0] = 0x01;
    out[4] = 0xCE;
    out[5] = 0xFA;
    out[6] = 0x0B;
    out[7] = 0xB0;
    Put32(out, 8, 8 * (blocks + 4));
    out[12] = 0x4D;
    out[13] = 0x4D;
    out[14] = 0x53;
    out[15] = 0x20;
    Put32(out, 16, blocks + 4);
    Put32(out, 20, sequence);
    Put32(out, 32, blocks + 2);
    Put32(out, 36, 0x00030000u | command.id);
    Put32(out, 40, command.argument1);
    Put32(out, 44, command.argument2);
    std::copy(command.body.begin(), command.body.end(), out.begin() + 48);
    return out;
}

inline Bytes Widen(const std::string& text) {
    Bytes out;
    for (char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

inline Command ConnectCommand(const std::string& clientId, const std::string& host) {
    return {0x01, 0, 0x0004000B,
            Concat({Widen("\x1c\x03NSPlayer/9.0.0.2800; {" + clientId + "}; Host: " + host),
                    Bytes(8, 0)})};
}

inline Command FunnelCommand() {
    return {0x02, 0, 0,
            Concat({Bytes(8, 0),
                    {0x02, 0, 0, 0},
                    Widen("\\\\192.168.0.129\\TCP\\1037"),
                    {0, 0, 0x30, 0}})};
}

inline Command OpenFileCommand(const std::string& path) {
    return {0x05, 0, 0, Concat({Bytes(8, 0), Widen(path), Bytes(4, 0)})};
}

inline Command ReadBlockCommand() {
    Bytes body(40, 0);
    body[32] = 0x02;
    return {0x15, 1, 0, body};
}

inline Command StreamSwitchCommand(const std::vector<std::uint16_t>& flags) {
    Bytes body(2, 0);
    for (std::size_t k = 1; k < flags.size(); ++k) {
        body.insert(body.end(), {0xFF, 0xFF, static_cast<std::uint8_t>(flags[k]), 0, 0, 0});
    }
    return {0x33, static_cast<std::uint32_t>(flags.size()),
            (std::uint32_t{flags[0]} << 16) | 0xFFFF, body};
}

inline Command StartPlayingCommand(std::uint16_t firstFlags) {
    Bytes body(24, 0);
    std::fill(body.begin() + 8, body.begin() + 16, 0xFF);
    body[20] = 4;
    return {0x07, 1, (std::uint32_t{firstFlags} << 16) | 0xFFFF, body};
}

inline Command PongCommand() {
    return {kPong, 0, 0, {}};
}

}  // namespace mms_expected
