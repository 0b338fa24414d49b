#include "MediaConnection.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

constexpr std::uint64_t kMinSegment = 100 * 1024;
constexpr std::uint64_t kMaxSegment = 2 * 1024 * 1024;
// Response bytes sealed per step: a few records, so that connections interleave finely.
constexpr std::size_t kResponsePiece = 4 * Http2FrameWriter::kMaxFramePayload;
constexpr std::uint32_t kStreamWindow = 6291456;
constexpr std::uint32_t kConnectionWindowGrowth = 15663105;
constexpr std::size_t kSegmentsPerPlaylist = 6;
constexpr std::string_view kUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/124.0 "
    "Safari/537.36";

std::string sixDigits(std::uint64_t number) {
    char text[24];
    std::snprintf(text, sizeof text, "%06llu", static_cast<unsigned long long>(number));
    return text;
}

}  // namespace

MediaConnection::MediaConnection(const TlsContextPair& contexts, Plan plan, std::string_view bodies,
                                 SeededRandomSource& random)
    : tls_(contexts, plan.suite, plan.host),
      tcp_(plan.client, plan.server, plan.clientIsn, plan.serverIsn),
      plan_(std::move(plan)),
      bodies_(bodies),
      random_(random),
      kind_(static_cast<Kind>(random.below(3))),
      segmentNumber_(random.below(100000)) {}

bool MediaConnection::step() {
    switch (state_) {
        case State::Start:
            return start();
        case State::Response:
            return respondPiece();
        case State::Between:
            return nextOrClose();
        case State::Closed:
            return true;
    }
    return false;
}

bool MediaConnection::start() {
    if (!tls_.ok() || !clientFrames_.ok() || !serverFrames_.ok()) {
        return false;
    }
    tcp_.open();
    if (!tls_.handshake(
            [this](bool fromClient, std::string_view bytes) { tcp_.send(fromClient, bytes); })) {
        return false;
    }
    clientFrames_.clientPreface();
    // What a browser and a CDN edge announce.
    clientFrames_.settings({{Http2FrameWriter::kHeaderTableSize, 65536},
                            {Http2FrameWriter::kEnablePush, 0},
                            {Http2FrameWriter::kInitialWindowSize, kStreamWindow},
                            {Http2FrameWriter::kMaxHeaderListSize, 262144}});
    clientFrames_.windowUpdate(0, kConnectionWindowGrowth);
    serverFrames_.settings({{Http2FrameWriter::kMaxConcurrentStreams, 100},
                            {Http2FrameWriter::kInitialWindowSize, 65535},
                            {Http2FrameWriter::kMaxFrameSize, 16384}});
    serverFrames_.settingsAck();
    state_ = State::Response;
    return request() && flush(false);
}

bool MediaConnection::request() {
    chooseNextPath();
    const std::string referer = "https://www.media.test/watch/" + std::to_string(plan_.number);
    const Http2FrameWriter::Field fields[] = {
        {":method", "GET"},
        {":authority", plan_.host},
        {":scheme", "https"},
        {":path", path_},
        {"user-agent", kUserAgent},
        {"accept", "*/*"},
        {"origin", "https://www.media.test"},
        {"referer", referer},
        {"accept-language", "en-US,en;q=0.9"},
    };
    ++requests_;
    return clientFrames_.headers(stream_, fields, true) && flush(true);
}

// The next path of the connection's kind and the body that answers it.
void MediaConnection::chooseNextPath() {
    const std::string channel = std::to_string(plan_.number);
    const bool playlist = requests_ == 0 && kind_ != Kind::Progressive;
    if (playlist) {
        const char* suffix = kind_ == Kind::Hls ? ".ts" : ".m4s";
        playlist_ = "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:6\n#EXT-X-MEDIA-SEQUENCE:" +
                    std::to_string(segmentNumber_) + "\n";
        for (std::size_t i = 0; i < kSegmentsPerPlaylist; ++i) {
            playlist_ += "#EXTINF:6.000,\n" + sixDigits(segmentNumber_ + i) + suffix + "\n";
        }
        path_ = kind_ == Kind::Hls ? "/live/ch" + channel + "/index.m3u8"
                                   : "/seg/ch" + channel + "/main.m3u8";
        contentType_ = "application/vnd.apple.mpegurl";
        body_ = playlist_;
    } else {
        const std::uint64_t size =
            std::min(random_.between(kMinSegment, kMaxSegment), plan_.bodyBudget);
        body_ = bodies_.substr(random_.below(bodies_.size() - size + 1), size);
        plan_.bodyBudget -= size;
        const std::string number = sixDigits(segmentNumber_++);
        switch (kind_) {
            case Kind::Hls:
                path_ = "/live/ch" + channel + "/" + number + ".ts";
                contentType_ = "video/mp2t";
                break;
            case Kind::Fmp4:
                path_ = "/seg/ch" + channel + "/" + number + ".m4s";
                contentType_ = "video/iso.segment";
                break;
            case Kind::Progressive:
                path_ = "/vod/title" + channel + "-" + number + ".mp4";
                contentType_ = "video/mp4";
                break;
        }
    }
    bodySent_ = 0;
}

bool MediaConnection::respondPiece() {
    if (bodySent_ == 0) {
        const std::string length = std::to_string(body_.size());
        const Http2FrameWriter::Field fields[] = {
            {":status", "200"},         {"content-type", contentType_},
            {"content-length", length}, {"cache-control", "max-age=3600"},
            {"server", "edge"},
        };
        if (!serverFrames_.headers(stream_, fields, false)) {
            return false;
        }
    }
    const std::string_view piece = body_.substr(bodySent_, kResponsePiece);
    bodySent_ += piece.size();
    const bool last = bodySent_ == body_.size();
    serverFrames_.data(stream_, piece, last);
    if (last) {
        state_ = State::Between;
        stream_ += 2;
    }
    return flush(false);
}

bool MediaConnection::nextOrClose() {
    if (plan_.bodyBudget < kMinSegment) {
        close();
        return true;
    }
    if (!settingsAcknowledged_) {
        clientFrames_.settingsAck();
        settingsAcknowledged_ = true;
    }
    // The player hands back the flow-control window the last body used.
    clientFrames_.windowUpdate(0, static_cast<std::uint32_t>(body_.size()));
    state_ = State::Response;
    return request();
}

void MediaConnection::close() {
    tcp_.send(true, tls_.closeNotify(true));
    tcp_.send(false, tls_.closeNotify(false));
    tcp_.close();
    state_ = State::Closed;
}

bool MediaConnection::flush(bool fromClient) {
    Http2FrameWriter& frames = fromClient ? clientFrames_ : serverFrames_;
    const std::string_view sealed = tls_.seal(fromClient, frames.pending());
    frames.clear();
    if (sealed.empty()) {
        return false;
    }
    tcp_.send(fromClient, sealed);
    return true;
}
