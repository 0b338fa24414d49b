#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A QUIC conversation between the ngtcp2 example client and server (Debian's gtlsclient and
// gtlsserver) on loopback, relayed through two sockets of the test so that every datagram is
// recorded as a capture would see it. The client's key log goes through a pipe: the secrets
// stay in memory.
struct QuicExchangeOptions {
    std::vector<std::string> clientArgs;  // besides the address, port and URL
    std::vector<std::string> serverArgs;  // besides the address, port, key and certificate
    std::string body;                     // what the server serves as /clip.bin
    bool keyLog = true;
};

struct QuicExchange {
    struct Datagram {
        bool fromClient = false;
        std::vector<std::uint8_t> bytes;
    };

    QuicExchange() = default;
    QuicExchange(const QuicExchange&) = delete;
    QuicExchange& operator=(const QuicExchange&) = delete;
    ~QuicExchange();  // wipes the key log

    bool completed = false;  // the client exited with status 0
    std::vector<Datagram> datagrams;
    std::uint16_t clientPort = 0;
    std::uint16_t serverPort = 0;  // the relay's port the client sent to
    std::string keyLog;            // secrets: compared, never printed
};

void runQuicExchange(const QuicExchangeOptions& options, QuicExchange& exchange);
