#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// The fixed-size record of one detected stream, copied byte for byte. Texts are zero-terminated
// UTF-8 (or raw bytes from traffic); `localFile` is wide enough for Linux paths. A download's
// progress is not kept here: it is its worker's own value, shown through the store.
struct DetectedStream {
    static constexpr int kSuffixCapacity = 8;
    static constexpr int kSchemeCapacity = 8;
    static constexpr int kHostCapacity = 64;
    static constexpr int kTypeNameCapacity = 64;
    static constexpr int kPathCapacity = 256;
    static constexpr int kQueryCapacity = 2048;
    static constexpr int kRefererCapacity = 1024;
    static constexpr int kUserAgentCapacity = 512;
    static constexpr int kCookieCapacity = 2048;
    static constexpr int kHttpVersionCapacity = 4;
    static constexpr int kServerNameCapacity = 256;
    static constexpr int kLocalFileCapacity = 1024;
    static constexpr int kAdapterInfoSize = 64;
    static constexpr int kIpv6AddressSize = 16;

    // IPv4 header, host byte order. For a segment that came over IPv6 (IsIpv6): `verIhl` is
    // its first byte (version 6 in the high nibble), `tos` the traffic class, `totalLength`
    // the payload length field, `ttl` the hop limit; the other IPv4 fields are zero and the
    // addresses are in srcAddr6 and dstAddr6.
    std::uint8_t verIhl;
    std::uint8_t tos;
    std::uint16_t totalLength;
    std::uint16_t ident;
    std::uint16_t fragment;
    std::uint8_t ttl;
    std::uint8_t protocol;
    std::uint16_t ipChecksum;
    std::uint32_t srcAddr;
    std::uint32_t dstAddr;
    // TCP header, host byte order
    std::uint16_t srcPort;
    std::uint16_t dstPort;
    std::uint32_t seq;
    std::uint32_t ack;
    std::uint8_t dataOffset;
    std::uint8_t tcpFlags;
    std::uint16_t window;
    std::uint16_t tcpChecksum;
    std::uint16_t urgent;

    // Download bookkeeping
    // 0 not downloaded / failed, 1 downloading, 2 transfer ended, 3 waiting its turn, 4 paused
    std::int32_t state;
    // Nonzero while the download is a live recording, which a stop ends with its file kept.
    std::int32_t liveRecording;

    char suffix[kSuffixCapacity];
    char scheme[kSchemeCapacity];
    char host[kHostCapacity];
    char typeName[kTypeNameCapacity];
    char path[kPathCapacity];
    // The URL's query from its "?" on, as last seen; empty when it had none (or a longer
    // one than fits). The full URL is host, path and query.
    char query[kQueryCapacity];
    // The request's own "Referer", "User-Agent" and "Cookie" header values, as last seen;
    // empty when absent, too long or holding control bytes. Many servers refuse a download
    // without the first two. The cookie is kept only while the user allows cookie reuse.
    char referer[kRefererCapacity];
    char userAgent[kUserAgentCapacity];
    char cookie[kCookieCapacity];
    // For a request read inside TLS: its HTTP version ("1.1", "2") and the server name its
    // client's hello asked for; empty otherwise.
    char httpVersion[kHttpVersionCapacity];
    char serverName[kServerNameCapacity];
    char localFile[kLocalFileCapacity];
    std::uint8_t adapterInfo[kAdapterInfoSize];
    // IPv6 addresses in network byte order; zero for IPv4.
    std::uint8_t srcAddr6[kIpv6AddressSize];
    std::uint8_t dstAddr6[kIpv6AddressSize];
};

static_assert(std::is_trivially_copyable_v<DetectedStream>);

// Whether the record's segment came over IPv6.
inline bool IsIpv6(const DetectedStream& record) {
    return (record.verIhl >> 4) == 6;
}

// Makes `record` an empty one for every reader: header and bookkeeping fields zero, every
// text empty, the byte fields zero. Only each text's first byte is written, not the several
// kilobytes behind it, which no reader looks at; that is what makes a reused record cheap.
inline void ClearRecordFields(DetectedStream& record) {
    std::memset(&record, 0, offsetof(DetectedStream, suffix));
    for (char* text : {record.suffix, record.scheme, record.host, record.typeName, record.path,
                       record.query, record.referer, record.userAgent, record.cookie,
                       record.httpVersion, record.serverName, record.localFile}) {
        text[0] = '\0';
    }
    std::memset(record.adapterInfo, 0, sizeof record.adapterInfo);
    std::memset(record.srcAddr6, 0, sizeof record.srcAddr6);
    std::memset(record.dstAddr6, 0, sizeof record.dstAddr6);
}

// Download states kept in DetectedStream::state.
enum DownloadState : std::int32_t {
    kStateIdle = 0,
    kStateDownloading = 1,
    kStateEnded = 2,
    kStateWaiting = 3,  // asked for, waiting for a free place among the running downloads
    kStatePaused = 4,   // stopped by the user, its part kept aside to go on from
};

// Whether a download holds the record in this state: it runs, waits its turn or is paused.
inline bool HoldsDownload(std::int32_t state) {
    return state == kStateDownloading || state == kStateWaiting || state == kStatePaused;
}

// The download state is written by a download's worker and read by the front end's thread:
// every access after detection goes through these two.
inline std::int32_t LoadDownloadState(const DetectedStream& record) {
    // atomic_ref needs a mutable object; a load writes nothing.
    auto& state = const_cast<std::int32_t&>(record.state);
    return std::atomic_ref<std::int32_t>(state).load(std::memory_order_acquire);
}
inline void StoreDownloadState(DetectedStream& record, std::int32_t state) {
    std::atomic_ref<std::int32_t>(record.state).store(state, std::memory_order_release);
}

// The same for DetectedStream::liveRecording, which the recording sets once it knows.
inline bool LoadLiveRecording(const DetectedStream& record) {
    auto& live = const_cast<std::int32_t&>(record.liveRecording);
    return std::atomic_ref<std::int32_t>(live).load(std::memory_order_acquire) != 0;
}
inline void StoreLiveRecording(DetectedStream& record, bool live) {
    std::atomic_ref<std::int32_t>(record.liveRecording)
        .store(live ? 1 : 0, std::memory_order_release);
}
