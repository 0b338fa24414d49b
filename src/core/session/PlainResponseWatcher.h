#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/capture/CapturedPacket.h"
#include "core/detect/DetectedStream.h"
#include "core/detect/StreamDecoder.h"
#include "core/detect/StreamFields.h"
#include "core/detect/WatchedPorts.h"
#include "core/flow/TcpSegmentView.h"

// Lists plain HTTP requests whose URL names no listed suffix but whose answer's Content-Type
// names media (a playlist served from ".../index?sig=..."). Works a segment at a time, without
// following connections, so plain traffic stays as cheap as the packet decoder alone: a request
// that fits one segment is kept in a fixed table of recent ones, and an answer whose head
// starts a segment is paired with the request on its connection whose end it acknowledges.
// A request the server has not answered before the next one came (pipelining), or one spread
// over several segments, is not paired. Used from one thread; `found` runs on it.
class PlainResponseWatcher {
  public:
    using Found = std::function<void(const StreamFields& stream)>;

    PlainResponseWatcher(const StreamDecoder& decoder, const WatchedPorts& ports, Found found);
    ~PlainResponseWatcher();

    PlainResponseWatcher(const PlainResponseWatcher&) = delete;
    PlainResponseWatcher& operator=(const PlainResponseWatcher&) = delete;

    // Port 80 and the ports the user added.
    static bool isPlainHttp(std::uint16_t port, const WatchedPorts& ports);

    // One segment of `datagram` in capture order.
    void onSegment(const TcpSegmentView& segment, const std::uint8_t* datagram,
                   std::uint32_t length);

  private:
    // Answers come within a round trip: a few hundred recent requests are plenty, and their
    // table stays in the cache.
    static constexpr std::size_t kSlots = 256;
    static constexpr std::size_t kKeyBytes = 36;

    // The latest request of one connection, as its datagram.
    struct Slot {
        std::array<std::uint8_t, kKeyBytes> key{};
        bool used = false;
        std::uint32_t endSeq = 0;  // the sequence number just past the request
        std::uint32_t length = 0;
        std::uint32_t payloadOffset = 0;
        std::array<std::uint8_t, CapturedPacket::kCapacity> datagram{};
    };
    using Key = std::array<std::uint8_t, kKeyBytes>;

    static Key keyOf(const TcpSegmentView& segment, bool fromServer);
    Slot& slotFor(const Key& key);
    void keepRequest(const TcpSegmentView& segment, const std::uint8_t* datagram,
                     std::uint32_t length);
    void readAnswer(const TcpSegmentView& segment);
    void listAnswered(const Slot& request, const StreamDecoder::MediaKind& kind);

    const StreamDecoder& decoder_;
    WatchedPorts ports_;
    Found found_;
    std::vector<Slot> slots_;  // made at the first request
    std::unique_ptr<DetectedStream> head_;
};
