#pragma once

#include <cstdint>
#include <deque>
#include <string_view>
#include <vector>

// The Ethernet frames of one IPv4 TCP connection as a capture would hold them: handshake, data
// cut into segments with timestamps, an ACK for every second segment, and the closing FINs.
// Checksums are real. Frames collect until taken.
class TcpConversation {
  public:
    struct Endpoint {
        std::uint32_t address = 0;
        std::uint16_t port = 0;
    };
    using Frame = std::vector<std::uint8_t>;
    // What fits a 1500-byte MTU beside the timestamps option.
    static constexpr std::size_t kMaxSegment = 1448;

    TcpConversation(Endpoint client, Endpoint server, std::uint32_t clientIsn,
                    std::uint32_t serverIsn);

    void open();
    void send(bool fromClient, std::string_view bytes);
    void close();

    std::deque<Frame>& frames() { return frames_; }

  private:
    struct Side {
        Endpoint end;
        std::uint32_t next = 0;  // sequence number of the next byte sent
        std::uint16_t ipId = 0;
        std::uint32_t clock = 0;      // timestamp option value
        unsigned unacknowledged = 0;  // segments received since this side last acknowledged
        std::uint8_t mac = 0;
        std::uint8_t ttl = 0;
    };

    void segment(bool fromClient, std::uint8_t flags, std::string_view payload);
    static void writeEthernet(std::uint8_t* at, const Side& from, const Side& to);
    static void writeIpv4(std::uint8_t* at, Side& from, const Side& to, std::size_t tcpLength);
    void acknowledge(bool byClient);

    Side client_;
    Side server_;
    std::deque<Frame> frames_;
};
