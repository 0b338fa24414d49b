#include "core/http/Http3Connection.h"

#include <algorithm>

#include "core/http/HttpFieldText.h"
#include "core/http/HttpTextLimits.h"

namespace {

constexpr std::uint64_t kControlStream = 0x00;
constexpr std::uint64_t kEncoderStream = 0x02;
constexpr std::uint64_t kQpackMaxTableCapacity = 0x01;

std::uint64_t keyOf(std::uint64_t stream, bool fromClient) {
    return stream << 1 | (fromClient ? 1 : 0);
}

// A section's prefix starts with its Required Insert Count, zero only when it refers to the
// static table alone.
bool refersToTable(std::span<const std::uint8_t> block) {
    return !block.empty() && block.front() != 0;
}

std::string sideName(bool fromClient) {
    return fromClient ? "client's " : "server's ";
}

}  // namespace

void Http3Connection::feed(std::uint64_t stream, bool fromClient,
                           std::span<const std::uint8_t> bytes, bool fin, HttpMessageSink& sink) {
    if (failed()) {
        return;
    }
    if (Stream* entry = streamFor(stream, fromClient); entry != nullptr) {
        read(*entry, stream, fromClient, bytes, sink);
    }
    if (fin && !failed()) {
        finish(stream, fromClient);
    }
}

void Http3Connection::abort(std::uint64_t stream, bool fromClient) {
    finish(stream, fromClient);
    dropWaiting(stream, fromClient);
    if (!fromClient) {
        forget(stream);
    }
}

// The stream's reading state, made at its first bytes; null for a stream that carries nothing
// HTTP/3 reads: server-opened bidirectional streams, and unidirectional ones of the wrong side.
Http3Connection::Stream* Http3Connection::streamFor(std::uint64_t stream, bool fromClient) {
    const auto found = streams_.find(keyOf(stream, fromClient));
    if (found != streams_.end()) {
        return &found->second;
    }
    Kind kind = Kind::Ignored;
    switch (stream % 4) {
        case 0:
            kind = Kind::Message;
            break;
        case 2:
        case 3:
            kind = fromClient == (stream % 4 == 2) ? Kind::Unidentified : Kind::Ignored;
            break;
        default:
            break;
    }
    if (kind == Kind::Ignored) {
        return nullptr;
    }
    if (streams_.size() == kMaxStreams) {
        fail("more than " + std::to_string(kMaxStreams) + " HTTP/3 streams open at once");
        return nullptr;
    }
    Stream& entry = streams_[keyOf(stream, fromClient)];
    entry.kind = kind;
    return &entry;
}

void Http3Connection::read(Stream& entry, std::uint64_t stream, bool fromClient,
                           std::span<const std::uint8_t> bytes, HttpMessageSink& sink) {
    if (entry.kind == Kind::Unidentified) {
        identify(entry, bytes);
    }
    switch (entry.kind) {
        case Kind::Message:
        case Kind::Control:
            readFrames(entry, stream, fromClient, bytes, sink);
            break;
        case Kind::Encoder:
            readEncoder(fromClient, bytes, sink);
            break;
        case Kind::Unidentified:
        case Kind::Ignored:
            break;
    }
}

// Push streams, the QPACK decoder stream (what the decoder tells the encoder) and reserved or
// unknown types carry nothing to read.
void Http3Connection::identify(Stream& entry, std::span<const std::uint8_t>& bytes) {
    if (!entry.type.take(bytes)) {
        return;
    }
    if (entry.type.value() == kControlStream) {
        entry.kind = Kind::Control;
    } else if (entry.type.value() == kEncoderStream) {
        entry.kind = Kind::Encoder;
    } else {
        entry.kind = Kind::Ignored;
    }
}

void Http3Connection::readFrames(Stream& entry, std::uint64_t stream, bool fromClient,
                                 std::span<const std::uint8_t> bytes, HttpMessageSink& sink) {
    const std::size_t before = entry.frames.held();
    while (!failed()) {
        const std::optional<Http3FrameReader::Frame> frame = entry.frames.next(bytes);
        if (!frame) {
            break;
        }
        if (entry.kind == Kind::Control && frame->type == Http3FrameReader::kSettings) {
            readSettings(fromClient, frame->payload, sink);
        } else if (entry.kind == Kind::Message && frame->type == Http3FrameReader::kHeaders) {
            takeSection(stream, fromClient, frame->payload, sink);
        }
    }
    if (entry.frames.failed()) {
        fail(std::string(entry.frames.failure()));
    }
    hold(before, entry.frames.held());
}

// A side's SETTINGS bound the table the other side's encoder may fill. Only the first counts.
// The number of sections allowed to wait is not taken from them: in a capture a section may
// come before encoder bytes its sender had sent first, so waiting is bounded here instead.
void Http3Connection::readSettings(bool fromClient, std::span<const std::uint8_t> payload,
                                   HttpMessageSink& sink) {
    Side& side = sideOf(fromClient);
    if (side.announced) {
        return;
    }
    side.announced = true;
    std::uint64_t capacity = 0;
    while (!payload.empty()) {
        std::uint64_t identifier = 0;
        std::uint64_t value = 0;
        if (!Http3VarIntReader::read(payload, identifier) ||
            !Http3VarIntReader::read(payload, value)) {
            fail("HTTP/3 SETTINGS frame ends inside a setting");
            return;
        }
        if (identifier == kQpackMaxTableCapacity) {
            capacity = value;
        }
    }
    allowTable(!fromClient, capacity, sink);
}

void Http3Connection::allowTable(bool fromClient, std::uint64_t capacity, HttpMessageSink& sink) {
    Side& side = sideOf(fromClient);
    std::vector<std::uint8_t> early = std::move(side.earlyEncoder);
    side.earlyEncoder = {};
    hold(early.size(), 0);
    if (capacity > kTableLimit) {
        side.table = Table::TooLarge;
    } else {
        side.table = Table::Allowed;
        if (capacity != 0 && !side.decoder.allowTable(static_cast<std::size_t>(capacity))) {
            fail(sideName(fromClient) + std::string(side.decoder.failure()));
            return;
        }
        if (!early.empty() && !side.decoder.readEncoder(early)) {
            fail(sideName(fromClient) + std::string(side.decoder.failure()));
            return;
        }
    }
    resume(fromClient, sink);
}

void Http3Connection::readEncoder(bool fromClient, std::span<const std::uint8_t> bytes,
                                  HttpMessageSink& sink) {
    Side& side = sideOf(fromClient);
    switch (side.table) {
        case Table::Unknown:
            side.earlyEncoder.insert(side.earlyEncoder.end(), bytes.begin(), bytes.end());
            hold(0, bytes.size());
            return;
        case Table::TooLarge:
            return;
        case Table::Allowed:
            if (!side.decoder.readEncoder(bytes)) {
                fail(sideName(fromClient) + std::string(side.decoder.failure()));
                return;
            }
            resume(fromClient, sink);
            return;
    }
}

void Http3Connection::takeSection(std::uint64_t stream, bool fromClient,
                                  std::span<const std::uint8_t> block, HttpMessageSink& sink) {
    Side& side = sideOf(fromClient);
    if (side.table == Table::TooLarge && refersToTable(block)) {
        return;  // its table is one this reader does not keep
    }
    if (side.table == Table::Unknown && refersToTable(block)) {
        wait(side, stream, QpackDecoder::Section(stream), block);
        return;
    }
    QpackDecoder::Section section(stream);
    if (decode(stream, fromClient, section, block, sink) == QpackDecoder::Outcome::Blocked) {
        wait(side, stream, std::move(section), block);
    }
}

void Http3Connection::wait(Side& side, std::uint64_t stream, QpackDecoder::Section section,
                           std::span<const std::uint8_t> rest) {
    if (side.waiting.size() == kMaxWaiting) {
        fail("more than " + std::to_string(kMaxWaiting) +
             " HTTP/3 field sections wait for their QPACK encoder stream");
        return;
    }
    side.waiting.push_back({stream, std::move(section), {rest.begin(), rest.end()}});
    hold(0, rest.size());
}

// Reads, in the order they came, the waiting sections the table now allows.
void Http3Connection::resume(bool fromClient, HttpMessageSink& sink) {
    Side& side = sideOf(fromClient);
    for (auto at = side.waiting.begin(); at != side.waiting.end() && !failed();) {
        std::span<const std::uint8_t> rest(at->rest);
        QpackDecoder::Outcome outcome = QpackDecoder::Outcome::Finished;
        if (side.table != Table::TooLarge || !refersToTable(rest)) {
            outcome = decode(at->stream, fromClient, at->section, rest, sink);
        }
        const std::size_t before = at->rest.size();
        if (outcome == QpackDecoder::Outcome::Blocked) {
            at->rest.erase(at->rest.begin(),
                           at->rest.end() - static_cast<std::ptrdiff_t>(rest.size()));
            hold(before, at->rest.size());
            ++at;
        } else {
            hold(before, 0);
            at = side.waiting.erase(at);
        }
    }
}

QpackDecoder::Outcome Http3Connection::decode(std::uint64_t stream, bool fromClient,
                                              QpackDecoder::Section& section,
                                              std::span<const std::uint8_t>& block,
                                              HttpMessageSink& sink) {
    Side& side = sideOf(fromClient);
    if (fromClient) {
        side.request.start(stream);
    } else {
        side.response.stream = stream;
        side.response.status = 0;
        side.response.contentType.clear();
    }
    const QpackDecoder::Outcome outcome = side.decoder.decode(
        section, block, [&side, fromClient](std::string_view name, std::string_view value) {
            if (fromClient) {
                side.request.takeHttp2Field(name, value);
            } else if (name == ":status") {
                side.response.status = HttpFieldText::statusCode(value).value_or(0);
            } else if (name == "content-type") {
                HttpFieldText::keepLowerCase(side.response.contentType, value,
                                             HttpTextLimits::kContentType);
            }
        });
    if (outcome == QpackDecoder::Outcome::Failed) {
        fail(sideName(fromClient) + std::string(side.decoder.failure()));
    } else if (outcome == QpackDecoder::Outcome::Finished) {
        if (fromClient) {
            reportRequest(side, sink);
        } else if (side.response.status >= 200) {
            reportResponse(side.response, sink);
        }
    }
    return outcome;
}

void Http3Connection::reportRequest(Side& side, HttpMessageSink& sink) {
    awaited_.report(side.request, sink);
}

void Http3Connection::reportResponse(const HttpResponseHead& response, HttpMessageSink& sink) {
    awaited_.answer(response, sink);
}

// The direction's reading ends; a section of it still waiting is kept. A response stream that
// ended with nothing waiting cannot answer its request any more.
void Http3Connection::finish(std::uint64_t stream, bool fromClient) {
    const auto found = streams_.find(keyOf(stream, fromClient));
    if (found != streams_.end()) {
        hold(found->second.frames.held(), 0);
        streams_.erase(found);
    }
    const std::deque<Waiting>& waiting = server_.waiting;
    if (!fromClient && std::none_of(waiting.begin(), waiting.end(),
                                    [stream](const Waiting& w) { return w.stream == stream; })) {
        forget(stream);
    }
}

void Http3Connection::dropWaiting(std::uint64_t stream, bool fromClient) {
    std::deque<Waiting>& waiting = sideOf(fromClient).waiting;
    for (auto at = waiting.begin(); at != waiting.end();) {
        if (at->stream == stream) {
            hold(at->rest.size(), 0);
            at = waiting.erase(at);
        } else {
            ++at;
        }
    }
}

void Http3Connection::forget(std::uint64_t stream) {
    awaited_.forget(stream);
}

void Http3Connection::hold(std::size_t before, std::size_t after) {
    held_ = held_ - before + after;
    if (held_ > kHeldLimit) {
        fail("HTTP/3 connection holds more than " + std::to_string(kHeldLimit) +
             " bytes of unread header frames");
    }
}

void Http3Connection::fail(std::string reason) {
    if (failure_.empty()) {
        failure_ = std::move(reason);
    }
}
