#include "core/http/Http2Connection.h"

#include <algorithm>

#include "core/http/HttpFieldText.h"
#include "core/http/HttpTextLimits.h"

namespace {

constexpr std::string_view kPreface = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";

}  // namespace

void Http2Connection::feed(bool fromClient, std::span<const std::uint8_t> bytes,
                           HttpMessageSink& sink) {
    if (failed() || (fromClient && !readPreface(bytes))) {
        return;
    }
    Side& side = fromClient ? client_ : server_;
    while (!failed()) {
        const Http2Event event = side.reader.next(bytes);
        if (event.kind == Http2Event::Kind::NeedBytes) {
            return;
        }
        handle(event, fromClient, sink);
    }
}

// False while the preface is incomplete or after it did not match.
bool Http2Connection::readPreface(std::span<const std::uint8_t>& bytes) {
    while (prefaceSeen_ < kPreface.size() && !bytes.empty()) {
        if (bytes.front() != static_cast<std::uint8_t>(kPreface[prefaceSeen_])) {
            fail("client stream does not start with the HTTP/2 connection preface");
            return false;
        }
        ++prefaceSeen_;
        bytes = bytes.subspan(1);
    }
    return prefaceSeen_ == kPreface.size();
}

void Http2Connection::handle(const Http2Event& event, bool fromClient, HttpMessageSink& sink) {
    Side& side = fromClient ? client_ : server_;
    Side& other = fromClient ? server_ : client_;
    switch (event.kind) {
        case Http2Event::Kind::BlockStart:
            startBlock(side, event, fromClient);
            break;
        case Http2Event::Kind::Field:
            takeField(side, event.name, event.value);
            break;
        case Http2Event::Kind::BlockEnd:
            endBlock(side, sink);
            break;
        case Http2Event::Kind::Settings:
            announce(side, other, event.settings);
            break;
        case Http2Event::Kind::SettingsAck:
            acknowledge(side, other);
            break;
        case Http2Event::Kind::StreamReset:
            forget(event.stream);
            break;
        case Http2Event::Kind::Failed:
            fail(std::string(side.reader.failure()));
            break;
        case Http2Event::Kind::NeedBytes:
            break;
    }
}

// The client's blocks are requests (or trailers); the server's are responses (or trailers),
// except a PUSH_PROMISE's, which is the request the server answers unasked.
void Http2Connection::startBlock(Side& side, const Http2Event& event, bool fromClient) {
    if (fromClient || event.promise) {
        side.block = Block::Request;
        side.request.start(event.stream);
        return;
    }
    side.block = Block::Response;
    side.response.stream = event.stream;
    side.response.status = 0;
    side.response.contentType.clear();
}

void Http2Connection::takeField(Side& side, std::string_view name, std::string_view value) {
    if (side.block == Block::Request) {
        side.request.takeHttp2Field(name, value);
    } else if (name == ":status") {
        side.response.status = HttpFieldText::statusCode(value).value_or(0);
    } else if (name == "content-type") {
        HttpFieldText::keepLowerCase(side.response.contentType, value,
                                     HttpTextLimits::kContentType);
    }
}

void Http2Connection::endBlock(Side& side, HttpMessageSink& sink) {
    if (side.block == Block::Request) {
        reportRequest(side, sink);
    } else if (side.response.status >= 200) {
        reportResponse(side.response, sink);
    }
}

void Http2Connection::reportRequest(Side& side, HttpMessageSink& sink) {
    awaited_.report(side.request, sink);
}

void Http2Connection::reportResponse(const HttpResponseHead& response, HttpMessageSink& sink) {
    awaited_.answer(response, sink);
}

void Http2Connection::announce(Side& side, Side& other, const Http2Settings& settings) {
    if (settings.maxFrameSize) {
        other.reader.allowFrameSize(*settings.maxFrameSize);
    }
    if (side.unacknowledged.size() == kMaxUnacknowledged) {
        fail("more than " + std::to_string(kMaxUnacknowledged) +
             " HTTP/2 SETTINGS frames without an acknowledgement");
        return;
    }
    side.unacknowledged.push_back(settings.headerTableSize);
}

// The acknowledging side's encoder uses the announced table size from here on.
void Http2Connection::acknowledge(Side& side, Side& other) {
    if (other.unacknowledged.empty()) {
        return;
    }
    const std::optional<std::uint32_t> tableSize = other.unacknowledged.front();
    other.unacknowledged.pop_front();
    if (tableSize && !side.reader.changeTableSize(*tableSize)) {
        fail("HTTP/2 header table size change refused");
    }
}

void Http2Connection::forget(std::uint64_t stream) {
    awaited_.forget(stream);
}

void Http2Connection::fail(std::string reason) {
    if (failure_.empty()) {
        failure_ = std::move(reason);
    }
}
