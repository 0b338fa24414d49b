#include "core/session/PlainResponseWatcher.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "core/http/Http1HeadLines.h"
#include "core/http/Http1StartLine.h"
#include "core/http/HttpFieldText.h"
#include "core/http/MediaContentType.h"

namespace {

constexpr std::string_view kAnswerStart = "HTTP/1.";

std::string_view payloadText(const TcpSegmentView& segment) {
    return std::string_view(reinterpret_cast<const char*>(segment.payload), segment.payloadLength);
}

// A request line's start: a method of capital letters, then a space.
bool startsRequest(std::string_view payload) {
    constexpr std::size_t kLongestMethod = 8;
    std::size_t i = 0;
    while (i < payload.size() && i <= kLongestMethod && payload[i] >= 'A' && payload[i] <= 'Z') {
        ++i;
    }
    return i > 0 && i < payload.size() && payload[i] == ' ';
}

// The complete lines of the head at the start of `payload`: the whole head when the segment
// holds its end, else up to its last full line.
std::string_view headLines(std::string_view payload) {
    const std::size_t end = payload.find("\r\n\r\n");
    if (end != std::string_view::npos) {
        return payload.substr(0, end + 2);
    }
    const std::size_t lastLine = payload.rfind('\n');
    return lastLine == std::string_view::npos ? std::string_view{} : payload.substr(0, lastLine);
}

// The media a successful answer's head names, if any.
std::optional<MediaContentType> answeredMedia(std::string_view payload) {
    Http1HeadLines lines(headLines(payload));
    const std::optional<int> status = Http1StartLine::status(lines.startLine());
    if (!status || *status < 200 || *status >= 300) {
        return std::nullopt;
    }
    std::string_view name, value;
    while (lines.next(name, value)) {
        if (HttpFieldText::equalsIgnoringCase(name, "Content-Type")) {
            return MediaContentType::of(value);
        }
    }
    return std::nullopt;
}

}  // namespace

PlainResponseWatcher::PlainResponseWatcher(const StreamDecoder& decoder, const WatchedPorts& ports,
                                           Found found)
    : decoder_(decoder),
      ports_(ports),
      found_(std::move(found)),
      head_(std::make_unique<DetectedStream>()) {}

PlainResponseWatcher::~PlainResponseWatcher() = default;

bool PlainResponseWatcher::isPlainHttp(std::uint16_t port, const WatchedPorts& ports) {
    return port == WatchedPorts::kHttpPort || ports.isAdded(port);
}

void PlainResponseWatcher::onSegment(const TcpSegmentView& segment, const std::uint8_t* datagram,
                                     std::uint32_t length) {
    const std::string_view payload = payloadText(segment);
    if (isPlainHttp(segment.dstPort, ports_) && startsRequest(payload)) {
        keepRequest(segment, datagram, length);
    } else if (isPlainHttp(segment.srcPort, ports_) && payload.starts_with(kAnswerStart)) {
        readAnswer(segment);
    }
}

// Addresses and ports of the connection, client first.
PlainResponseWatcher::Key PlainResponseWatcher::keyOf(const TcpSegmentView& segment,
                                                      bool fromServer) {
    Key key{};
    const std::size_t addressBytes = segment.ipv6 ? 16 : 4;
    const std::uint8_t* client = fromServer ? segment.dstAddr : segment.srcAddr;
    const std::uint8_t* server = fromServer ? segment.srcAddr : segment.dstAddr;
    const std::uint16_t ports[2] = {fromServer ? segment.dstPort : segment.srcPort,
                                    fromServer ? segment.srcPort : segment.dstPort};
    std::memcpy(key.data(), client, addressBytes);
    std::memcpy(key.data() + 16, server, addressBytes);
    std::memcpy(key.data() + 32, ports, sizeof ports);
    return key;
}

PlainResponseWatcher::Slot& PlainResponseWatcher::slotFor(const Key& key) {
    if (slots_.empty()) {
        slots_.resize(kSlots);
    }
    // Eight bytes at a time: this runs for every request on a plain port.
    std::uint64_t hash = 0;
    for (std::size_t at = 0; at + 8 <= key.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, key.data() + at, sizeof word);
        hash = (hash ^ word) * 0x9E3779B97F4A7C15ULL;
    }
    std::uint32_t ports;
    std::memcpy(&ports, key.data() + 32, sizeof ports);
    hash = (hash ^ ports) * 0x9E3779B97F4A7C15ULL;
    hash ^= hash >> 29;
    return slots_[hash % kSlots];
}

void PlainResponseWatcher::keepRequest(const TcpSegmentView& segment, const std::uint8_t* datagram,
                                       std::uint32_t length) {
    length = std::min(length, CapturedPacket::kCapacity);
    const auto payloadOffset = static_cast<std::uint32_t>(segment.payload - datagram);
    if (payloadOffset >= length || segment.truncated()) {
        return;
    }
    const Key key = keyOf(segment, false);
    Slot& slot = slotFor(key);
    slot.key = key;
    slot.used = true;
    slot.endSeq = segment.seq + segment.payloadLength;
    slot.length = length;
    slot.payloadOffset = payloadOffset;
    std::memcpy(slot.datagram.data(), datagram, length);
}

void PlainResponseWatcher::readAnswer(const TcpSegmentView& segment) {
    if (slots_.empty()) {
        return;
    }
    const Key key = keyOf(segment, true);
    Slot& slot = slotFor(key);
    if (!slot.used || slot.key != key || slot.endSeq != segment.ack) {
        return;
    }
    slot.used = false;  // one answer a request; a retransmitted one lists nothing more
    if (std::optional<MediaContentType> media = answeredMedia(payloadText(segment))) {
        listAnswered(slot, StreamDecoder::MediaKind{media->suffix, media->typeName});
    }
}

void PlainResponseWatcher::listAnswered(const Slot& request, const StreamDecoder::MediaKind& kind) {
    const auto* text = reinterpret_cast<const char*>(request.datagram.data());
    const std::string_view payload(text + request.payloadOffset,
                                   request.length - request.payloadOffset);
    StreamFields fields;
    const auto decode = [&](const StreamDecoder::MediaKind* given) {
        return decoder_.decodeFollowedRequest(request.datagram.data(), request.length, payload,
                                              StreamDecoder::Layer::kPlain, *head_, fields,
                                              given) == 0;
    };
    // A URL with a listed suffix the packet decoder has listed already.
    if (!decode(nullptr) && decode(&kind)) {
        found_(fields);
    }
}
