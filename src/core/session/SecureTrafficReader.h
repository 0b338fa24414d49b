#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/detect/StreamDecoder.h"
#include "core/detect/StreamFields.h"
#include "core/detect/TlsPorts.h"
#include "core/detect/WatchedPorts.h"
#include "core/flow/TcpFlowTable.h"
#include "core/session/FollowedRequests.h"
#include "core/session/PlainResponseWatcher.h"
#include "core/tls/KeyLog.h"

// Reads the media requests inside TLS connections: follows each connection on a TLS port, reads
// its TLS with the key log's secrets and the HTTP/1.1 or HTTP/2 inside (and HTTP/3 in QUIC on
// the same ports over UDP), and hands every request that names a media file to `found` as the
// decoder reads it (scheme https). With
// followPlainHttp(), plain HTTP answers are looked at too, for the requests that only their
// answer's Content-Type names as media (the packet decoder lists the others). Datagrams arrive
// in capture order on one thread; `found` runs on that thread.
class QuicTrafficReader;

class SecureTrafficReader {
  public:
    using Found = std::function<void(const StreamFields& stream)>;

    // What could not be read, for the user: connections without keys by server name.
    struct Summary {
        std::uint64_t connections = 0;  // TLS connections followed
        std::uint64_t decrypted = 0;    // of which read with keys
        std::uint64_t failed = 0;       // given up: a lost segment, a record that fails, ...
        static constexpr std::size_t kMaxNames = 1024;
        // Server name ("" unknown, or past kMaxNames names): count.
        std::map<std::string, std::uint64_t> withoutKeys;
        std::uint64_t withoutKeysCount() const;
        void countWithoutKeys(std::string_view serverName);
    };

    // How long records wait for keys the key log does not hold yet, and how many may wait.
    // A capture file's keys are all known before its first packet: nothing waits then.
    struct Waiting {
        std::size_t heldPerConnection = 0;  // ciphertext held a connection
        std::size_t heldTotal = 64 << 20;   // and in all
        std::uint64_t micros = 10'000'000;  // after the connection's last packet
    };

    SecureTrafficReader(const StreamDecoder& decoder, std::shared_ptr<KeyLog> keys,
                        const TlsPorts& ports, Found found, Waiting waiting);
    ~SecureTrafficReader();

    SecureTrafficReader(const SecureTrafficReader&) = delete;
    SecureTrafficReader& operator=(const SecureTrafficReader&) = delete;

    // Also pairs plain HTTP answers on port 80 and the ports added to `ports` with their
    // requests.
    void followPlainHttp(const WatchedPorts& ports);

    // Whether the datagram is a TCP segment or UDP datagram to or from a TLS port, or with
    // `plain` a TCP segment of a plain HTTP port: cheap, for every packet.
    static bool isFollowed(const std::uint8_t* datagram, std::uint32_t length,
                           const TlsPorts& ports, const WatchedPorts* plain);
    // One datagram at `nowMicros` (monotonic); true when it is on a TLS port (TCP or UDP), and
    // so for nothing else to read.
    bool read(const std::uint8_t* datagram, std::uint32_t length, std::uint64_t nowMicros);
    // Now and then while reading (at least once a second): connections that ended while
    // waiting for keys are read once the keys are there, or given up when the wait is over.
    void tick(std::uint64_t nowMicros);
    // The end of the input: every connection ends; those still waiting for keys after a last
    // look count as without keys.
    void finish();

    const Summary& summary() const { return summary_; }

  private:
    class Session;
    class Connection;
    friend class Session;
    friend class Connection;

    void linger(std::unique_ptr<Session> session);
    bool readQuic(const std::uint8_t* datagram, std::uint32_t length, std::uint64_t nowMicros);
    void quicKeysChanged();

    const StreamDecoder& decoder_;
    std::shared_ptr<KeyLog> keys_;
    TlsPorts ports_;
    Found found_;
    Waiting waiting_;
    Summary summary_;
    // Ciphertext held for keys by every connection, as its sessions count it.
    std::size_t heldTotal_ = 0;
    // Sessions whose connection ended while they waited for keys.
    std::vector<std::unique_ptr<Session>> lingering_;
    // Room for the request being decoded: its text and the record's header fields.
    std::string requestText_;
    std::unique_ptr<DetectedStream> head_;
    FollowedRequests::Room room_;
    std::uint64_t now_ = 0;  // the time of the datagram being read
    std::unique_ptr<TcpFlowTable> flows_;
    std::unique_ptr<PlainResponseWatcher> plain_;
    std::unique_ptr<QuicTrafficReader> quic_;  // made at the first UDP datagram on a TLS port
    std::uint64_t quicKeysSeen_ = 0;
};
