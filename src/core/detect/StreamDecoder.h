#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "core/capture/AdapterEntry.h"
#include "core/capture/CapturedPacket.h"
#include "core/detect/DetectedStream.h"
#include "core/detect/StreamFields.h"
#include "core/detect/SuffixTable.h"
#include "core/detect/WatchedPorts.h"

// Turns one captured IPv4 or IPv6 datagram into a detected-stream record when it is a TCP
// segment to or from a watched port (80, 1755, 554 and those the user added) whose text names a
// file with one of the target suffixes. Judges each packet by itself. The suffix table and the
// adapter are snapshots that any thread may replace at any time; a decode in progress keeps the
// snapshot it started with.
class StreamDecoder {
  public:
    StreamDecoder();

    void setSuffixTable(std::shared_ptr<const SuffixTable> table);
    std::shared_ptr<const SuffixTable> suffixTable() const;

    // The selected adapter, whose 64 bytes from its physical address go into every record;
    // null gives zero bytes.
    void setAdapter(std::shared_ptr<const AdapterEntry> adapter);

    // The ports looked at. Not while another thread decodes with this decoder: the session
    // sets them before its capture starts.
    void setWatchedPorts(const WatchedPorts& ports);
    const WatchedPorts& watchedPorts() const { return ports_; }

    // Whether a request's "Cookie" goes into its record (cookie reuse; off unless set). Any
    // thread; decodes started later follow it.
    void setKeepCookies(bool keep);
    bool keepsCookies() const;

    // 0 and a filled `record` when the packet names a stream, -1 otherwise (then `record`
    // may be untouched or partly filled). Never allocates. Each text is filled up to its
    // terminator; the bytes behind it are left as they were (a reused record keeps earlier
    // bytes there, which no reader looks at).
    int decode(const CapturedPacket& packet, DetectedStream& record) const;
    // The same without filling the texts: `head` gets the header fields (and a host made from
    // a Host header), `fields` views them, the packet, the suffix table and the adapter. Valid
    // while those are unchanged and this thread decodes nothing else (the snapshots).
    int decode(const CapturedPacket& packet, DetectedStream& head, StreamFields& fields) const;
    // The same for a datagram of `length` bytes where it is (at most a packet's capacity is
    // looked at).
    int decode(const std::uint8_t* datagram, std::uint32_t length, DetectedStream& head,
               StreamFields& fields) const;

    // A request read from a followed connection: `request` is its head as HTTP/1.1 text (a
    // request of HTTP/2 written so too), `datagram` of `length` bytes the TCP segment that
    // completed it, whose addresses and ports go into the record. Inside TLS the scheme is https
    // and a Host header's value follows "https://"; else as decode() takes a packet. Views into
    // `request` as decode() does into a packet.
    // With `given`, the request is taken whatever its URL's suffix, with that suffix and type
    // name: its answer named the media (a playlist served without ".m3u8").
    struct MediaKind {
        std::string_view suffix;
        std::string_view typeName;
    };
    enum class Layer { kTls, kPlain };
    int decodeFollowedRequest(const std::uint8_t* datagram, std::uint32_t length,
                              std::string_view request, Layer layer, DetectedStream& head,
                              StreamFields& fields, const MediaKind* given = nullptr) const;

    // The decoder itself, on explicit snapshots (and the three fixed ports when none given).
    // It keeps the request's cookie; the decoder above drops it unless told to keep it.
    static int decode(const CapturedPacket& packet, const SuffixTable& table,
                      const AdapterEntry* adapter, DetectedStream& record);
    static int decode(const CapturedPacket& packet, const SuffixTable& table,
                      const AdapterEntry* adapter, const WatchedPorts& ports,
                      DetectedStream& record);

    // False when the datagram of `length` bytes is surely rejected before any text is looked
    // at (too short, not TCP, none of the ports, no payload). Cheap enough for every packet.
    static bool worthDecoding(const std::uint8_t* datagram, std::uint32_t length,
                              const WatchedPorts& ports);
    bool worthDecoding(const std::uint8_t* datagram, std::uint32_t length) const {
        return worthDecoding(datagram, length, ports_);
    }

  private:
    struct Snapshots;

    const Snapshots& currentSnapshots() const;
    void published();

    // Guards table_ and adapter_. Not std::atomic<std::shared_ptr>: libstdc++ 12 releases its
    // internal lock in load() with relaxed order, a race ThreadSanitizer rightly reports. A
    // decoding thread takes the lock only when version_ changed, so it stays off the hot path.
    mutable std::mutex snapshotsMutex_;
    std::shared_ptr<const SuffixTable> table_;
    std::shared_ptr<const AdapterEntry> adapter_;
    // Changes with every set...(), unique across all decoders, so that a decoding thread can
    // keep its snapshots until they are replaced.
    std::atomic<std::uint64_t> version_;
    WatchedPorts ports_;
    std::atomic<bool> keepCookies_{false};
};
