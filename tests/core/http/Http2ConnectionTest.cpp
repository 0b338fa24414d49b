#include "core/http/Http2Connection.h"

#include <gtest/gtest.h>
#include <nghttp2/nghttp2.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "HttpTranscript.h"

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

// One frame of a case, made when the case runs: header blocks go through the sending side's
// own deflater, so later blocks refer to its dynamic table.
struct Frame {
    enum class Kind { Headers, PushPromise, Settings, SettingsAck, Data, Reset, Raw, EncoderTable };
    bool client = true;
    Kind kind = Kind::Headers;
    std::uint32_t stream = 0;
    Fields fields = {};
    int padding = -1;  // Headers, PushPromise: pad length, -1 for no PADDED flag
    bool priority = false;
    int pieces = 1;  // Headers: frames the block is cut into (CONTINUATIONs after the first)
    std::uint32_t value = 0;  // promised stream, encoder table size, DATA length
    std::optional<std::uint32_t> tableSize = {};  // Settings
    std::optional<std::uint32_t> maxFrame = {};   // Settings
    std::string raw = {};
};
using K = Frame::Kind;

struct Http2Case {
    const char* name;
    std::vector<Frame> frames;
    std::string expected;
    std::string failure;
    bool preface = true;
};

std::string frameBytes(int type, int flags, std::uint32_t stream, const std::string& payload) {
    const std::size_t n = payload.size();
    std::string out = {char(n >> 16),      char(n >> 8),      char(n),
                       char(type),         char(flags),       char(stream >> 24),
                       char(stream >> 16), char(stream >> 8), char(stream)};
    return out + payload;
}

std::string be32(std::uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

struct DeflaterDeleter {
    void operator()(nghttp2_hd_deflater* d) const { nghttp2_hd_deflate_del(d); }
};
using Deflater = std::unique_ptr<nghttp2_hd_deflater, DeflaterDeleter>;

Deflater newDeflater() {
    nghttp2_hd_deflater* d = nullptr;
    EXPECT_EQ(nghttp2_hd_deflate_new(&d, 65536), 0);
    return Deflater(d);
}

std::string deflate(nghttp2_hd_deflater* deflater, const Fields& fields) {
    std::vector<nghttp2_nv> nva;
    for (const auto& [name, value] : fields) {
        nva.push_back({(uint8_t*)name.data(), (uint8_t*)value.data(), name.size(), value.size(),
                       NGHTTP2_NV_FLAG_NONE});
    }
    std::string block(nghttp2_hd_deflate_bound(deflater, nva.data(), nva.size()), '\0');
    const auto n = nghttp2_hd_deflate_hd(deflater, (uint8_t*)block.data(), block.size(), nva.data(),
                                         nva.size());
    EXPECT_GE(n, 0);
    block.resize(n < 0 ? 0 : std::size_t(n));
    return block;
}

std::string headerFrames(const Frame& f, const std::string& block) {
    std::string prefix;
    int flags = 0;
    if (f.padding >= 0) {
        prefix += char(f.padding);
        flags |= NGHTTP2_FLAG_PADDED;
    }
    if (f.kind == K::PushPromise) {
        prefix += be32(f.value);
    } else if (f.priority) {
        prefix += be32(0x80000000u | 3) + char(200);
        flags |= NGHTTP2_FLAG_PRIORITY;
    }
    const std::size_t piece = block.size() / f.pieces + 1;
    std::string out;
    for (int i = 0; i < f.pieces; ++i) {
        const std::string fragment = block.substr(std::min(block.size(), i * piece), piece);
        const int end = i + 1 == f.pieces ? NGHTTP2_FLAG_END_HEADERS : 0;
        out += i == 0 ? frameBytes(f.kind == K::Headers ? NGHTTP2_HEADERS : NGHTTP2_PUSH_PROMISE,
                                   flags | end, f.stream,
                                   prefix + fragment + std::string(std::max(f.padding, 0), '\0'))
                      : frameBytes(NGHTTP2_CONTINUATION, end, f.stream, fragment);
    }
    return out;
}

std::string settingsFrame(const Frame& f) {
    std::string payload;
    if (f.tableSize) {
        payload += std::string{0, NGHTTP2_SETTINGS_HEADER_TABLE_SIZE} + be32(*f.tableSize);
    }
    if (f.maxFrame) {
        payload += std::string{0, NGHTTP2_SETTINGS_MAX_FRAME_SIZE} + be32(*f.maxFrame);
    }
    return frameBytes(NGHTTP2_SETTINGS, 0, 0, payload);
}

// The case's bytes as segments: each run of frames from one side is one segment.
std::vector<HttpTranscript::Segment> encode(const std::vector<Frame>& frames, bool preface) {
    Deflater client = newDeflater();
    Deflater server = newDeflater();
    std::vector<HttpTranscript::Segment> segments{{true, preface ? NGHTTP2_CLIENT_MAGIC : ""}};
    for (const Frame& f : frames) {
        nghttp2_hd_deflater* deflater = f.client ? client.get() : server.get();
        std::string bytes;
        switch (f.kind) {
            case K::Headers:
            case K::PushPromise:
                bytes = headerFrames(f, deflate(deflater, f.fields));
                break;
            case K::Settings:
                bytes = settingsFrame(f);
                break;
            case K::SettingsAck:
                bytes = frameBytes(NGHTTP2_SETTINGS, NGHTTP2_FLAG_ACK, 0, "");
                break;
            case K::Data:
                bytes = frameBytes(NGHTTP2_DATA, 0, f.stream, std::string(f.value, 'd'));
                break;
            case K::Reset:
                bytes = frameBytes(NGHTTP2_RST_STREAM, 0, f.stream, be32(NGHTTP2_CANCEL));
                break;
            case K::Raw:
                bytes = f.raw;
                break;
            case K::EncoderTable:
                EXPECT_EQ(nghttp2_hd_deflate_change_table_size(deflater, f.value), 0);
                break;
        }
        if (segments.back().client != f.client) {
            segments.push_back({f.client, ""});
        }
        segments.back().bytes += bytes;
    }
    return segments;
}

Fields get(const std::string& path, Fields extra = {}) {
    Fields fields{
        {":method", "GET"}, {":scheme", "https"}, {":authority", "media.example"}, {":path", path}};
    fields.insert(fields.end(), extra.begin(), extra.end());
    return fields;
}

Fields answer(const std::string& status, const std::string& type = "") {
    Fields fields{{":status", status}};
    if (!type.empty()) {
        fields.push_back({"content-type", type});
    }
    return fields;
}

const Fields kHugeFields = [] {
    Fields fields;
    for (char c = 'a'; c <= 'h'; ++c) {
        fields.push_back({std::string("x-") + c, std::string(60000, c)});
    }
    return fields;
}();

const Http2Case kCases[] = {
    {"requests and answers by stream, table reused, cookie crumbs",
     {{.kind = K::Settings},
      {.client = false, .kind = K::Settings},
      {.kind = K::Headers,
       .stream = 1,
       .fields = get("/a.m3u8", {{"user-agent", "UA/2"}, {"cookie", "a=1"}, {"cookie", "b=2"}})},
      {.kind = K::Headers,
       .stream = 3,
       .fields = get("/b.ts", {{"user-agent", "UA/2"}, {"cookie", "a=1"}, {"referer", "/p"}})},
      {.client = false, .kind = K::SettingsAck},
      {.client = false, .kind = K::Headers, .stream = 3, .fields = answer("200", "Video/MP2T")},
      {.client = false, .kind = K::Data, .stream = 3, .value = 1000},
      {.client = false,
       .kind = K::Headers,
       .stream = 1,
       .fields = answer("200", "application/vnd.apple.mpegurl")}},
     "> 0 s1 GET https://media.example/a.m3u8 ua=UA/2 cookie=a=1; b=2\n"
     "> 1 s3 GET https://media.example/b.ts referer=/p ua=UA/2 cookie=a=1\n"
     "< 1 s3 200 video/mp2t\n< 0 s1 200 application/vnd.apple.mpegurl\n",
     ""},
    {"padding, priority and CONTINUATION",
     {{.kind = K::Headers,
       .stream = 1,
       .fields = get("/p"),
       .padding = 7,
       .priority = true,
       .pieces = 3},
      {.kind = K::Headers, .stream = 3, .fields = get("/q"), .padding = 0, .pieces = 2},
      {.client = false,
       .kind = K::Headers,
       .stream = 3,
       .fields = answer("206", "audio/mp4"),
       .padding = 255,
       .pieces = 4},
      {.client = false,
       .kind = K::Headers,
       .stream = 1,
       .fields = answer("200"),
       .priority = true}},
     "> 0 s1 GET https://media.example/p\n> 1 s3 GET https://media.example/q\n"
     "< 1 s3 206 audio/mp4\n< 0 s1 200\n",
     ""},
    {"host without :authority; trailers, interim answers and reset streams go unreported",
     {{.kind = K::Headers,
       .stream = 1,
       .fields =
           {{":method", "GET"}, {":scheme", "https"}, {":path", "/h"}, {"host", "h.example"}}},
      {.kind = K::Headers, .stream = 3, .fields = get("/gone")},
      {.kind = K::Headers, .stream = 1, .fields = {{"x-checksum", "1"}}},
      {.kind = K::Reset, .stream = 3},
      {.client = false, .kind = K::Headers, .stream = 1, .fields = answer("103")},
      {.client = false, .kind = K::Headers, .stream = 3, .fields = answer("200")},
      {.client = false, .kind = K::Headers, .stream = 1, .fields = answer("200", "video/mp4")},
      {.client = false, .kind = K::Headers, .stream = 1, .fields = {{"grpc-status", "0"}}}},
     "> 0 s1 GET https://h.example/h\n> 1 s3 GET https://media.example/gone\n"
     "< 0 s1 200 video/mp4\n",
     ""},
    {"a pushed request, answered on its promised stream",
     {{.kind = K::Headers, .stream = 1, .fields = get("/index.html")},
      {.client = false,
       .kind = K::PushPromise,
       .stream = 1,
       .fields = get("/v.mp4"),
       .padding = 3,
       .value = 2},
      {.client = false, .kind = K::Headers, .stream = 2, .fields = answer("200", "video/mp4")},
      {.client = false, .kind = K::Headers, .stream = 1, .fields = answer("200", "text/html")}},
     "> 0 s1 GET https://media.example/index.html\n> 1 s2 GET https://media.example/v.mp4\n"
     "< 1 s2 200 video/mp4\n< 0 s1 200 text/html\n",
     ""},
    {"texts over their bounds",
     {{.kind = K::Headers, .stream = 1, .fields = get("/" + std::string(4096, 'p'))},
      {.kind = K::Headers,
       .stream = 3,
       .fields = get("/u", {{"user-agent", "a\tb"},
                            {"cookie", std::string(2000, 'c')},
                            {"cookie", std::string(100, 'd')}})},
      {.client = false, .kind = K::Headers, .stream = 1, .fields = answer("200")},
      {.client = false,
       .kind = K::Headers,
       .stream = 3,
       .fields = answer("200", "video/" + std::string(250, 'v'))}},
     "> 0 s3 GET https://media.example/u\n< 0 s3 200\n",
     ""},
    {"a larger table, used once the announcement is acknowledged",
     {{.kind = K::Settings, .tableSize = 65536},
      {.kind = K::Headers, .stream = 1, .fields = get("/t")},
      {.client = false, .kind = K::SettingsAck},
      {.client = false, .kind = K::EncoderTable, .value = 65536},
      {.client = false, .kind = K::Headers, .stream = 1, .fields = answer("200", "audio/ogg")}},
     "> 0 s1 GET https://media.example/t\n< 0 s1 200 audio/ogg\n",
     ""},
    {"a smaller table only after the acknowledgement",
     {{.kind = K::Headers, .stream = 1, .fields = get("/t")},
      {.client = false, .kind = K::Settings, .tableSize = 0},
      {.kind = K::Headers, .stream = 3, .fields = get("/t")},
      {.kind = K::SettingsAck},
      {.kind = K::EncoderTable, .value = 0},
      {.kind = K::Headers, .stream = 5, .fields = get("/t")}},
     "> 0 s1 GET https://media.example/t\n> 1 s3 GET https://media.example/t\n"
     "> 2 s5 GET https://media.example/t\n",
     ""},
    {"an encoder that keeps a table it was told to drop",
     {{.kind = K::Headers, .stream = 1, .fields = get("/t")},
      {.client = false, .kind = K::Settings, .tableSize = 0},
      {.kind = K::SettingsAck},
      {.kind = K::Headers, .stream = 3, .fields = get("/u")}},
     "> 0 s1 GET https://media.example/t\n",
     "does not decompress"},
    {"larger frames only towards the side that allowed them",
     {{.client = false, .kind = K::Settings, .maxFrame = 32768},
      {.kind = K::Data, .stream = 1, .value = 20000},
      {.client = false, .kind = K::Data, .stream = 1, .value = 20000}},
     "",
     "HTTP/2 frame of 20000 bytes over the limit of 16384"},
    {"a block that does not decompress",
     {{.kind = K::Raw,
       .raw = frameBytes(NGHTTP2_HEADERS, NGHTTP2_FLAG_END_HEADERS, 1, "\xFF\xFF\xFF\xFF\x0F")}},
     "",
     "does not decompress"},
    {"a block interrupted by another frame",
     {{.kind = K::Raw,
       .raw = frameBytes(NGHTTP2_HEADERS, 0, 1, "\x82") +
              frameBytes(NGHTTP2_PING, 0, 0, std::string(8, 'p'))}},
     "",
     "interrupted"},
    {"CONTINUATION without a block",
     {{.kind = K::Raw,
       .raw = frameBytes(NGHTTP2_CONTINUATION, NGHTTP2_FLAG_END_HEADERS, 1, "\x82")}},
     "",
     "CONTINUATION without a header block"},
    {"a push of stream 0",
     {{.client = false,
       .kind = K::Raw,
       .raw = frameBytes(NGHTTP2_PUSH_PROMISE, NGHTTP2_FLAG_END_HEADERS, 1, be32(0) + "\x82")}},
     "",
     "PUSH_PROMISE of stream 0"},
    {"padding longer than its frame",
     {{.kind = K::Raw,
       .raw = frameBytes(NGHTTP2_HEADERS, NGHTTP2_FLAG_END_HEADERS | NGHTTP2_FLAG_PADDED, 1,
                         "\x0A\x82\x84")}},
     "",
     "padding longer than its frame"},
    {"a block over 256 KiB",
     {{.kind = K::Headers, .stream = 1, .fields = kHugeFields, .pieces = 30}},
     "",
     "header block longer than 262144 bytes"},
    {"not the HTTP/2 preface",
     {{.kind = K::Raw, .raw = "GET / HTTP/1.1\r\n\r\n"}},
     "",
     "preface",
     false},
};

TEST(Http2Connection, ReadsHeadsInEveryChunking) {
    for (const Http2Case& c : kCases) {
        const std::vector<HttpTranscript::Segment> segments = encode(c.frames, c.preface);
        for (HttpTranscript::Chunking chunking : HttpTranscript::kChunkings) {
            SCOPED_TRACE(::testing::Message() << c.name << ", chunking " << int(chunking));
            Http2Connection connection;
            HttpTranscript transcript;
            transcript.feed(connection, segments, chunking);
            EXPECT_EQ(transcript.text, c.expected);
            EXPECT_EQ(connection.failed(), !c.failure.empty()) << connection.failure();
            EXPECT_NE(connection.failure().find(c.failure), std::string_view::npos)
                << connection.failure();
        }
    }
}

}  // namespace
