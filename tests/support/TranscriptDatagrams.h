#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "core/tls/TlsSession.h"
#include "support/TestPackets.h"

// A recorded conversation as the IPv4 datagrams of one TCP connection, client 40000 to server
// `serverPort`, picked up without a handshake: the side on that port is the server.
inline std::vector<std::vector<std::uint8_t>> TranscriptDatagrams(const TlsTranscript& transcript,
                                                                  std::uint16_t serverPort = 443) {
    std::vector<std::vector<std::uint8_t>> datagrams;
    std::uint32_t next[2] = {1000, 5000};  // the client's sequence number, the server's
    for (const TlsTranscript::Segment& segment : transcript.segments) {
        const int from = segment.fromClient ? 0 : 1;
        test_packets::Tcp tcp;
        if (from == 1) {
            std::swap(tcp.srcAddr, tcp.dstAddr);
        }
        tcp.srcPort = from == 0 ? 40000 : serverPort;
        tcp.dstPort = from == 0 ? serverPort : 40000;
        tcp.seq = next[from];
        tcp.ack = next[1 - from];
        datagrams.push_back(test_packets::datagram(
            std::string_view(reinterpret_cast<const char*>(segment.bytes.data()),
                             segment.bytes.size()),
            tcp));
        next[from] += static_cast<std::uint32_t>(segment.bytes.size());
    }
    return datagrams;
}
