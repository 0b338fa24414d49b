#pragma once

#include <sys/uio.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AsfFixture.h"

// A scripted MMS server for the tests and the benchmark: listens on 127.0.0.1 with port 0,
// serves one session, records every command packet the client sends, and stops by itself
// after its lifetime.
class MmsTestServer {
  public:
    enum class Ending {
        EndOfStream,      // command 0x1E
        Close,            // the connection is closed mid-stream
        Stall,            // nothing more is sent until the client goes away
        NoSignature,      // a command packet whose bytes 4..7 are wrong
        UnknownCommand,   // a command the client does not know
        HugeCommand,      // a command packet announcing more than 128 KiB
        ShortDataLength,  // a data packet whose length field is below 8
    };

    struct Script {
        std::vector<std::uint8_t> header;
        std::vector<std::vector<std::uint8_t>> packets;
        int headerChunks = 1;
        bool pingBetweenChunks = false;
        bool pingBeforeOpenReply = false;  // ping and reply in one segment
        bool splitOpenReply = false;       // the reply in two segments, 20 ms apart
        bool hugeCommandInHeader = false;
        std::vector<std::uint8_t> rawHeaderStream;  // sent as it is instead of header chunks
        bool stallBeforeHeader = false;
        bool refuseFunnel = false;  // close right after the connect reply
        bool trimPayloads = false;  // leave the trailing zero bytes of each packet out
        int pingEveryPackets = 0;
        std::size_t endAfter = std::numeric_limits<std::size_t>::max();
        Ending ending = Ending::EndOfStream;

        // Benchmark source: packets read from a file instead of `packets`.
        std::string packetFile;
        std::uint64_t packetFileOffset = 0;
        std::uint32_t filePacketSize = 0;
        std::uint64_t filePacketCount = 0;
    };

    // A script that serves `fixture`: its header in one chunk, then its packets.
    static Script Serving(const AsfFixture& fixture);
    // The same, ending with `ending` after `packets` data packets.
    static Script Serving(const AsfFixture& fixture, std::size_t packets, Ending ending);

    // Listens on 127.0.0.1, or ::1 with `ipv6`.
    explicit MmsTestServer(Script script, int lifetimeSeconds = 20, bool ipv6 = false);
    ~MmsTestServer();

    MmsTestServer(const MmsTestServer&) = delete;
    MmsTestServer& operator=(const MmsTestServer&) = delete;

    std::uint16_t port() const { return port_; }

    // Waits for the session to end and returns the client's command packets in arrival order.
    std::vector<std::vector<std::uint8_t>> Commands();
    // CPU seconds the server's thread used; valid after Commands().
    double cpuSeconds() const { return cpuSeconds_; }
    // Ends a stall or a wait at once.
    void Stop();
    // Waits until the server stalls as its script says (before the header, or at the end with
    // Ending::Stall): from then on nothing more reaches the client. False if it never does.
    bool WaitStalled();

    static std::vector<std::uint8_t> ServerCommand(std::uint16_t id, std::uint32_t sequence,
                                                   const std::vector<std::uint8_t>& body = {});

  private:
    void Serve();
    void Session(int connection);
    bool WaitReadable(int fd);
    bool ReadFull(int fd, std::uint8_t* out, std::size_t count);
    bool ReadCommand(int fd, std::uint16_t* id);
    bool Expect(int fd, std::uint16_t id);
    bool SendAll(int fd, const std::vector<std::uint8_t>& bytes);
    bool SendHeader(int fd);
    bool SendPackets(int fd);
    bool SendFilePackets(int fd);
    bool SendParts(int fd, iovec* parts, std::size_t count);
    bool SendEnding(int fd);
    void Drain(int fd);
    void Stall(int fd);

    Script script_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::chrono::steady_clock::time_point deadline_;
    std::atomic<bool> stop_{false};
    std::uint32_t serverSequence_ = 0;
    std::uint32_t packetSequence_ = 0;
    std::mutex mutex_;
    std::condition_variable stalledChanged_;
    bool stalled_ = false;
    std::vector<std::vector<std::uint8_t>> commands_;
    double cpuSeconds_ = 0;
    std::thread thread_;
};
