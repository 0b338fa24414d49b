#include "core/http/Http3Connection.h"

#include <gtest/gtest.h>
#include <nghttp3/nghttp3.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "HttpTranscript.h"

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

// One thing a side sends, made into stream bytes when the case runs. Field sections go
// through the sending side's own QPACK encoder, whose table the other side's SETTINGS size, so
// later sections refer to entries its encoder stream inserted.
struct Send {
    enum class Kind { Settings, Headers, Flush, Data, Raw, Abort, EncoderTable };
    bool client = true;
    Kind kind = Kind::Headers;
    std::uint64_t stream = 0;
    Fields fields = {};
    std::uint64_t value = 0;  // Settings: table capacity; Data: length; EncoderTable: capacity
    // Headers: its encoder-stream bytes, and all after them, wait for the side's next Flush;
    // Settings: the frame does.
    bool held = false;
    bool fin = false;  // Headers, Data, Raw: the stream's direction ends with it
    std::string raw = {};
};
using K = Send::Kind;

struct Segment {
    std::uint64_t stream;
    bool client;
    std::string bytes;
    bool fin = false;
    bool abort = false;
};

struct Http3Case {
    const char* name;
    std::vector<Send> sends;
    std::string expected;
    std::string failure = "";
};

std::string varint(std::uint64_t v) {
    if (v < 64) {
        return {char(v)};
    }
    if (v < 16384) {
        return {char(0x40 | v >> 8), char(v)};
    }
    std::string out{char(0xC0 | v >> 56)};
    for (int shift = 48; shift >= 0; shift -= 8) {
        out += char(v >> shift);
    }
    return out;
}

std::string frame(std::uint64_t type, const std::string& payload) {
    return varint(type) + varint(payload.size()) + payload;
}

struct EncoderDeleter {
    void operator()(nghttp3_qpack_encoder* e) const { nghttp3_qpack_encoder_del(e); }
};

// What one side's sending needs: its encoder, its unidirectional streams and what it holds back.
struct Sender {
    std::unique_ptr<nghttp3_qpack_encoder, EncoderDeleter> encoder;
    bool controlOpen = false;
    bool encoderOpen = false;
    bool holding = false;
    std::vector<Segment> heldBack;

    Sender() {
        nghttp3_qpack_encoder* e = nullptr;
        EXPECT_EQ(nghttp3_qpack_encoder_new(&e, 65536, nghttp3_mem_default()), 0);
        nghttp3_qpack_encoder_set_max_blocked_streams(e, 100);
        encoder.reset(e);
    }
};

std::string take(nghttp3_buf& buffer) {
    std::string bytes(reinterpret_cast<char*>(buffer.pos), reinterpret_cast<char*>(buffer.last));
    nghttp3_buf_free(&buffer, nghttp3_mem_default());
    return bytes;
}

// The section and the encoder-stream bytes it needs.
std::pair<std::string, std::string> encode(Sender& sender, std::uint64_t stream,
                                           const Fields& fields) {
    std::vector<nghttp3_nv> nva;
    for (const auto& [name, value] : fields) {
        nva.push_back({(uint8_t*)name.data(), (uint8_t*)value.data(), name.size(), value.size(),
                       NGHTTP3_NV_FLAG_NONE});
    }
    nghttp3_buf prefix, rest, encoder;
    nghttp3_buf_init(&prefix);
    nghttp3_buf_init(&rest);
    nghttp3_buf_init(&encoder);
    EXPECT_EQ(nghttp3_qpack_encoder_encode(sender.encoder.get(), &prefix, &rest, &encoder,
                                           std::int64_t(stream), nva.data(), nva.size()),
              0);
    nghttp3_qpack_encoder_ack_everything(sender.encoder.get());
    const std::string section = take(prefix) + take(rest);
    return {section, take(encoder)};
}

std::vector<Segment> write(const std::vector<Send>& sends) {
    Sender senders[2];  // server, client
    std::vector<Segment> out;
    for (const Send& s : sends) {
        Sender& me = senders[s.client];
        const std::uint64_t own = s.client ? 0 : 1;
        switch (s.kind) {
            case K::Settings: {
                nghttp3_qpack_encoder_set_max_dtable_capacity(senders[!s.client].encoder.get(),
                                                              s.value);
                const std::string type = me.controlOpen ? "" : varint(0x00);
                me.controlOpen = true;
                const std::string grease = varint(0x1f * 7 + 0x21) + varint(5);
                Segment settings{2 + own, s.client,
                                 type + frame(0x04, grease + varint(0x01) + varint(s.value))};
                (s.held ? me.heldBack : out).push_back(settings);
                break;
            }
            case K::Headers: {
                const auto [section, encoder] = encode(me, s.stream, s.fields);
                me.holding = me.holding || s.held;
                if (!encoder.empty()) {
                    const std::string type = me.encoderOpen ? "" : varint(0x02);
                    me.encoderOpen = true;
                    (me.holding ? me.heldBack : out).push_back({6 + own, s.client, type + encoder});
                }
                out.push_back({s.stream, s.client, frame(0x01, section), s.fin});
                break;
            }
            case K::Flush:
                out.insert(out.end(), me.heldBack.begin(), me.heldBack.end());
                me.heldBack.clear();
                me.holding = false;
                break;
            case K::Data:
                out.push_back({s.stream, s.client, frame(0x00, std::string(s.value, 'd')), s.fin});
                break;
            case K::Raw:
                out.push_back({s.stream, s.client, s.raw, s.fin});
                break;
            case K::Abort:
                out.push_back({s.stream, s.client, "", false, true});
                break;
            case K::EncoderTable:
                nghttp3_qpack_encoder_set_max_dtable_capacity(me.encoder.get(), s.value);
                break;
        }
    }
    return out;
}

// One stream's bytes, as the transcript cuts them.
struct StreamFeeder {
    Http3Connection& connection;
    std::uint64_t stream;
    void feed(bool client, std::span<const std::uint8_t> bytes, HttpMessageSink& sink) {
        connection.feed(stream, client, bytes, false, sink);
    }
};

void feed(Http3Connection& connection, const std::vector<Segment>& segments,
          HttpTranscript::Chunking chunking, HttpTranscript& transcript) {
    for (const Segment& segment : segments) {
        if (segment.abort) {
            connection.abort(segment.stream, segment.client);
            continue;
        }
        StreamFeeder feeder{connection, segment.stream};
        transcript.feed(feeder, {{segment.client, segment.bytes}}, chunking);
        if (segment.fin) {
            connection.feed(segment.stream, segment.client, {}, true, transcript);
        }
    }
}

Fields get(const std::string& path, Fields extra = {}) {
    Fields fields{
        {":method", "GET"}, {":scheme", "https"}, {":authority", "media.example"}, {":path", path}};
    fields.insert(fields.end(), extra.begin(), extra.end());
    return fields;
}

// Fields the static table holds whole: the section refers to no dynamic entry.
Fields staticGet(const std::string& path) {
    return {{":method", "GET"}, {":scheme", "https"}, {":path", path}};
}

Fields answer(const std::string& status, const std::string& type = "") {
    Fields fields{{":status", status}};
    if (!type.empty()) {
        fields.push_back({"content-type", type});
    }
    return fields;
}

const Send kClientTable{.kind = K::Settings, .value = 4096};
const Send kServerTable{.client = false, .kind = K::Settings, .value = 4096};
const Fields kAgent{{"user-agent", "Player/3"}};

std::vector<Send> tooManyWaiting() {
    std::vector<Send> sends{kServerTable, {.stream = 0, .fields = get("/0", kAgent), .held = true}};
    for (std::uint64_t n = 1; n <= 32; ++n) {
        sends.push_back({.stream = 4 * n, .fields = get("/" + std::to_string(n), kAgent)});
    }
    return sends;
}

const Http3Case kCases[] = {
    {"static table only, before any SETTINGS; interim answers, DATA and trailers pass",
     {{.stream = 0,
       .fields = get("/a.m3u8", {{"referer", "/p"}, {"cookie", "a=1"}, {"cookie", "b=2"}})},
      {.stream = 4, .fields = get("/b.ts")},
      {.client = false, .stream = 4, .fields = answer("103")},
      {.client = false, .stream = 4, .fields = answer("200", "Video/MP2T")},
      {.client = false, .kind = K::Data, .stream = 4, .value = 70000, .fin = true},
      {.client = false, .stream = 0, .fields = answer("200", "application/vnd.apple.mpegurl")},
      {.stream = 0, .fields = {{"x-checksum", "1"}}},
      {.client = false, .stream = 0, .fields = {{"x-trailer", "1"}}}},
     "> 0 GET https://media.example/a.m3u8 referer=/p cookie=a=1; b=2\n"
     "> 1 s4 GET https://media.example/b.ts\n< 1 s4 200 video/mp2t\n"
     "< 0 200 application/vnd.apple.mpegurl\n"},
    {"dynamic tables both ways, their entries used again",
     {kClientTable,
      kServerTable,
      {.stream = 0, .fields = get("/1.ts", kAgent), .fin = true},
      {.stream = 4, .fields = get("/2.ts", kAgent), .fin = true},
      {.client = false, .stream = 4, .fields = answer("200", "video/mp2t")},
      {.client = false, .stream = 0, .fields = answer("200", "video/mp2t")},
      {.stream = 8, .fields = get("/3.ts", kAgent)},
      {.client = false, .stream = 8, .fields = answer("206", "video/mp2t")}},
     "> 0 GET https://media.example/1.ts ua=Player/3\n"
     "> 1 s4 GET https://media.example/2.ts ua=Player/3\n< 1 s4 200 video/mp2t\n"
     "< 0 200 video/mp2t\n> 2 s8 GET https://media.example/3.ts ua=Player/3\n"
     "< 2 s8 206 video/mp2t\n"},
    {"sections wait for their encoder stream; a stream's end keeps its waiting one",
     {kServerTable,
      {.stream = 0, .fields = get("/w.m3u8", kAgent), .held = true, .fin = true},
      {.stream = 4, .fields = staticGet("/s.ts")},
      {.stream = 0, .fields = {{"x-checksum", "1"}}},
      {.stream = 8, .fields = get("/x.ts", kAgent)},
      {.kind = K::Flush},
      {.client = false, .stream = 0, .fields = answer("200", "audio/mpegurl")}},
     "> 0 s4 GET https:///s.ts\n> 1 GET https://media.example/w.m3u8 ua=Player/3\n"
     "> 2 s8 GET https://media.example/x.ts ua=Player/3\n< 1 200 audio/mpegurl\n"},
    {"a section and encoder bytes before the SETTINGS that size their table",
     {{.client = false, .kind = K::Settings, .value = 4096, .held = true},
      {.stream = 0, .fields = get("/e.mpd", kAgent)},
      {.client = false, .kind = K::Flush},
      {.client = false, .stream = 0, .fields = answer("200", "application/dash+xml")}},
     "> 0 GET https://media.example/e.mpd ua=Player/3\n< 0 200 application/dash+xml\n"},
    {"a table larger than kept: sections that need it pass, static ones are read",
     {{.client = false, .kind = K::Settings, .value = 1 << 20},
      {.stream = 0, .fields = get("/big", kAgent)},
      {.stream = 4, .fields = staticGet("/small")}},
     "> 0 s4 GET https:///small\n"},
    {"reset streams: a waiting section and an answer are dropped",
     {kServerTable,
      {.stream = 0, .fields = get("/gone", kAgent), .held = true},
      {.kind = K::Abort, .stream = 0},
      {.stream = 4, .fields = get("/kept", kAgent)},
      {.kind = K::Flush},
      {.stream = 8, .fields = staticGet("/reset")},
      {.client = false, .kind = K::Abort, .stream = 8},
      {.client = false, .stream = 4, .fields = answer("200", "video/mp4")}},
     "> 0 s4 GET https://media.example/kept ua=Player/3\n"
     "> 1 s8 GET https:///reset\n< 0 s4 200 video/mp4\n"},
    {"unknown, grease and push frames and streams pass",
     {{.kind = K::Raw, .stream = 0, .raw = frame(0x21, "grease") + frame(0x1f * 9 + 0x21, "")},
      {.stream = 0, .fields = get("/g.mp4")},
      {.kind = K::Raw, .stream = 14, .raw = varint(0x1f * 2 + 0x21) + frame(1, "\xff\xff")},
      {.kind = K::Raw, .stream = 10, .raw = varint(0x03) + "\xff\xff\xff"},
      {.client = false, .kind = K::Raw, .stream = 15, .raw = varint(0x01) + frame(1, "\xff")},
      {.client = false, .kind = K::Raw, .stream = 1, .raw = frame(1, "\xff")},
      {.client = false, .kind = K::Raw, .stream = 3, .raw = varint(0) + frame(0x07, varint(0))},
      {.client = false, .kind = K::Raw, .stream = 0, .raw = frame(0x05, "\xff\xff\xff")},
      {.client = false, .stream = 0, .fields = answer("200", "video/mp4")}},
     "> 0 GET https://media.example/g.mp4\n< 0 200 video/mp4\n"},
    {"a section that does not decompress",
     {{.kind = K::Raw, .stream = 0, .raw = frame(1, "\x00\x00\xff\xff\xff\xff\xff\x0f")}},
     "",
     "client's QPACK field section does not decompress"},
    {"a section cut short",
     {{.client = false, .kind = K::Raw, .stream = 0, .raw = frame(1, std::string("\x00", 1))}},
     "",
     "server's QPACK field section"},
    {"an encoder that fills a larger table than allowed",
     {{.client = false, .kind = K::Settings, .value = 1024},
      {.kind = K::EncoderTable, .value = 4096},
      {.stream = 0, .fields = get("/t", kAgent)}},
     "",
     "client's QPACK encoder stream breaks the table"},
    {"a HEADERS frame over its bound",
     {{.kind = K::Raw, .stream = 0, .raw = varint(1) + varint(70000) + "\x00\x00"}},
     "",
     "HTTP/3 HEADERS frame of 70000 bytes over the limit of 65536"},
    {"a SETTINGS frame cut inside a setting",
     {{.kind = K::Raw, .stream = 2, .raw = varint(0) + frame(4, varint(1))}},
     "",
     "SETTINGS frame ends inside a setting"},
    {"more sections waiting than kept", tooManyWaiting(), "", "more than 32 HTTP/3 field sections"},
};

TEST(Http3Connection, ReadsHeadsInEveryChunking) {
    for (const Http3Case& c : kCases) {
        const std::vector<Segment> segments = write(c.sends);
        for (HttpTranscript::Chunking chunking : HttpTranscript::kChunkings) {
            SCOPED_TRACE(::testing::Message() << c.name << ", chunking " << int(chunking));
            Http3Connection connection;
            HttpTranscript transcript;
            feed(connection, segments, chunking, transcript);
            EXPECT_EQ(transcript.text, c.expected);
            EXPECT_EQ(connection.failed(), !c.failure.empty()) << connection.failure();
            EXPECT_NE(connection.failure().find(c.failure), std::string_view::npos)
                << connection.failure();
        }
    }
}

}  // namespace
