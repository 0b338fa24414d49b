#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A TLS conversation between an OpenSSL client and server that talk through memory, recorded
// as the bytes each side sent, with the key log lines the client's library wrote.
struct TlsSessionOptions {
    int version = 0;            // TLS1_2_VERSION or TLS1_3_VERSION
    std::string cipher;         // the only suite offered, by OpenSSL's name
    std::string alpn;           // the server's pick of "h2" and "http/1.1"; empty: no ALPN
    std::string serverName;     // empty: no SNI
    bool keyUpdate = false;     // the server updates its key mid-response and asks the client to
    bool retryRequest = false;  // the client's key share is for a group the server refuses
    std::string request;
    std::string response;
};

struct TlsTranscript {
    struct Segment {
        bool fromClient = false;
        std::vector<std::uint8_t> bytes;
    };

    TlsTranscript() = default;
    TlsTranscript(const TlsTranscript&) = delete;
    TlsTranscript& operator=(const TlsTranscript&) = delete;
    ~TlsTranscript();  // wipes the key log

    bool completed = false;
    std::vector<Segment> segments;  // in the order they were sent
    std::string keyLog;             // secrets: compared, never printed
    std::string serverRead;         // what the server's application read
    std::string clientRead;
};

void runTlsSession(const TlsSessionOptions& options, TlsTranscript& transcript);
