#include "TcpConversation.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kFin = 0x01;
constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kPush = 0x08;
constexpr std::uint8_t kAck = 0x10;
constexpr std::size_t kEthernet = 14;
constexpr std::size_t kIpv4 = 20;
constexpr std::size_t kTcp = 20;
constexpr std::uint16_t kWindow = 501;  // with the window scale of 7 offered below: 64 KB
// MSS 1460, SACK permitted, timestamps, NOP, window scale 7: what Linux offers in a SYN.
constexpr std::uint8_t kSynOptions[] = {2, 4, 0x05, 0xB4, 4, 2, 8, 10, 0, 0,
                                        0, 0, 0,    0,    0, 0, 1, 3,  3, 7};
constexpr std::size_t kSynTimestampAt = 6;
constexpr std::uint8_t kOptions[] = {1, 1, 8, 10, 0, 0, 0, 0, 0, 0, 0, 0};  // NOP NOP timestamps
constexpr std::size_t kTimestampAt = 2;

void put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void put32(std::uint8_t* at, std::uint32_t value) {
    put16(at, value >> 16);
    put16(at + 2, value);
}

std::uint32_t addWords(const std::uint8_t* at, std::size_t length, std::uint32_t sum) {
    for (; length > 1; at += 2, length -= 2) {
        sum += static_cast<std::uint32_t>(at[0] << 8 | at[1]);
    }
    if (length == 1) {
        sum += static_cast<std::uint32_t>(at[0] << 8);
    }
    return sum;
}

std::uint16_t checksum(std::uint32_t sum) {
    while (sum >> 16 != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

}  // namespace

TcpConversation::TcpConversation(Endpoint client, Endpoint server, std::uint32_t clientIsn,
                                 std::uint32_t serverIsn) {
    client_ = {client, clientIsn, static_cast<std::uint16_t>(clientIsn), clientIsn >> 8, 0, 1, 64};
    server_ = {server, serverIsn, static_cast<std::uint16_t>(serverIsn), serverIsn >> 8, 0, 2, 57};
}

void TcpConversation::open() {
    segment(true, kSyn, {});
    segment(false, kSyn | kAck, {});
    segment(true, kAck, {});
}

void TcpConversation::send(bool fromClient, std::string_view bytes) {
    Side& receiver = fromClient ? server_ : client_;
    while (!bytes.empty()) {
        const std::size_t length = std::min(bytes.size(), kMaxSegment);
        segment(fromClient, static_cast<std::uint8_t>(kAck | (length == bytes.size() ? kPush : 0)),
                bytes.substr(0, length));
        bytes.remove_prefix(length);
        if (++receiver.unacknowledged == 2) {
            acknowledge(!fromClient);
        }
    }
    if (receiver.unacknowledged != 0) {
        acknowledge(!fromClient);  // the delayed ACK for an odd last segment
    }
}

void TcpConversation::close() {
    segment(true, kFin | kAck, {});
    segment(false, kFin | kAck, {});
    segment(true, kAck, {});
}

void TcpConversation::acknowledge(bool byClient) {
    segment(byClient, kAck, {});
}

void TcpConversation::segment(bool fromClient, std::uint8_t flags, std::string_view payload) {
    Side& from = fromClient ? client_ : server_;
    Side& to = fromClient ? server_ : client_;
    const bool syn = (flags & kSyn) != 0;
    const std::size_t optionsLength = syn ? sizeof kSynOptions : sizeof kOptions;
    const std::size_t tcpLength = kTcp + optionsLength + payload.size();
    Frame& frame = frames_.emplace_back(kEthernet + kIpv4 + tcpLength, 0);
    writeEthernet(frame.data(), from, to);
    std::uint8_t* ip = frame.data() + kEthernet;
    writeIpv4(ip, from, to, tcpLength);

    std::uint8_t* tcp = ip + kIpv4;
    put16(tcp, from.end.port);
    put16(tcp + 2, to.end.port);
    put32(tcp + 4, from.next);
    const bool acks = (flags & kAck) != 0;
    put32(tcp + 8, acks ? to.next : 0);
    tcp[12] = static_cast<std::uint8_t>(((kTcp + optionsLength) / 4) << 4);
    tcp[13] = flags;
    put16(tcp + 14, syn ? 64240 : kWindow);
    std::uint8_t* options = tcp + kTcp;
    std::copy_n(syn ? kSynOptions : kOptions, optionsLength, options);
    std::uint8_t* timestamps = options + (syn ? kSynTimestampAt : kTimestampAt) + 2;
    put32(timestamps, ++from.clock);
    put32(timestamps + 4, acks ? to.clock : 0);
    std::copy(payload.begin(), payload.end(), options + optionsLength);
    const std::uint32_t pseudoHeader =
        addWords(ip + 12, 8, 6 + static_cast<std::uint32_t>(tcpLength));
    put16(tcp + 16, checksum(addWords(tcp, tcpLength, pseudoHeader)));

    from.next +=
        static_cast<std::uint32_t>(payload.size()) + (syn ? 1 : 0) + ((flags & kFin) != 0 ? 1 : 0);
    from.unacknowledged = acks ? 0 : from.unacknowledged;  // an ACK covers all received
}

void TcpConversation::writeEthernet(std::uint8_t* at, const Side& from, const Side& to) {
    at[0] = at[6] = 0x02;  // locally administered addresses
    at[5] = to.mac;
    at[11] = from.mac;
    put16(at + 12, 0x0800);
}

void TcpConversation::writeIpv4(std::uint8_t* at, Side& from, const Side& to,
                                std::size_t tcpLength) {
    at[0] = 0x45;
    put16(at + 2, static_cast<std::uint32_t>(kIpv4 + tcpLength));
    put16(at + 4, from.ipId++);
    put16(at + 6, 0x4000);  // don't fragment
    at[8] = from.ttl;
    at[9] = 6;  // TCP
    put32(at + 12, from.end.address);
    put32(at + 16, to.end.address);
    put16(at + 10, checksum(addWords(at, kIpv4, 0)));
}
