#include "core/http/Http1Connection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HttpTranscript.h"

namespace {

using Segment = HttpTranscript::Segment;

struct Http1Case {
    const char* name;
    std::vector<Segment> segments;
    std::string expected;
    std::string failure;  // a text failure() contains; empty: none
};

std::string get(const std::string& path, const std::string& extra = "") {
    return "GET " + path + " HTTP/1.1\r\nHost: h\r\n" + extra + "\r\n";
}

const std::string kLongPath = "/" + std::string(4096, 'p');

const Http1Case kCases[] = {
    {"fields in any case, cookies joined, parameters kept",
     {{true,
       "GET /a.mp4 HTTP/1.1\r\nhOST: media.example\r\nReferer:  https://page.example/ \r\n"
       "USER-AGENT: UA/1\r\nCookie: a=1\r\ncookie: b=2\r\n\r\n"},
      {false,
       "HTTP/1.1 200 OK\r\nContent-Type: Video/MP4; Codecs=x\r\nContent-Length: 5\r\n\r\n"
       "hello"}},
     "> 0 GET https://media.example/a.mp4 referer=https://page.example/ ua=UA/1 cookie=a=1; b=2\n"
     "< 0 200 video/mp4; codecs=x\n",
     ""},
    {"pipelined, bodies skipped by length, chunks and until close",
     {{true,
       "POST /up HTTP/1.1\r\nHost: h\r\nContent-Length: 24\r\n\r\nGET /fake HTTP/1.1\r\n\r\n\r\n"
       "PUT /c HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
       "a;ext=1\r\nGET /x HTT\r\n0\r\nX-Trailer: 1\r\n\r\n" +
           get("/last")},
      {false,
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
       "Content-Type: text/html\r\n\r\n5\r\nHTTP/\r\n15\r\nHTTP/1.1 200 OK\r\n\r\n\r\n\r\n0\r\n\r\n"
       "HTTP/1.1 204 No Content\r\nContent-Length: 9\r\n\r\n"
       "HTTP/1.0 200 OK\r\ncontent-type: audio/mpeg\r\n\r\nHTTP/1.1 200 OK\r\n\r\n"}},
     "> 0 POST https://h/up\n> 1 PUT https://h/c\n> 2 GET https://h/last\n"
     "< 0 200 text/html\n< 1 204\n< 2 200 audio/mpeg\n",
     ""},
    {"no body after HEAD, 304 or 1xx",
     {{true, "HEAD /v HTTP/1.1\r\nHost: h\r\n\r\n" + get("/v") + get("/w")},
      {false,
       "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nContent-Type: video/webm\r\n\r\n"
       "HTTP/1.1 304 Not Modified\r\nContent-Length: 100\r\n\r\n"
       "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n"
       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"}},
     "> 0 HEAD https://h/v\n> 1 GET https://h/v\n> 2 GET https://h/w\n"
     "< 0 200 video/webm\n< 1 304\n< 2 200\n",
     ""},
    {"exchanges one after another, bare line feeds, blank lines between",
     {{true, "GET /1 HTTP/1.1\nHost: h\n\n"},
      {false, "HTTP/1.1 200 OK\nContent-Length: 0\n\n"},
      {true, "\r\n" + get("/2")},
      {false, "HTTP/1.1 404 Not Found\r\nCONTENT-LENGTH: 3\r\nContent-Type: text/plain\r\n\r\nno!"},
      {true, get("/3")},
      {false, "HTTP/1.1 200\r\nContent-Length: 1, 1\r\n\r\n!"}},
     "> 0 GET https://h/1\n< 0 200\n> 1 GET https://h/2\n< 1 404 text/plain\n"
     "> 2 GET https://h/3\n< 2 200\n",
     ""},
    {"absolute form, then a CONNECT tunnel is not read",
     {{true, "GET HTTP://proxy.example?q HTTP/1.1\r\nHost: other\r\n\r\n"},
      {false, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"},
      {true, "CONNECT media.example:443 HTTP/1.1\r\nHost: media.example:443\r\n\r\n\x16\x03\x01"},
      {false, "HTTP/1.1 200 Connection established\r\n\r\n\x16\x03\x03 not http"}},
     "> 0 GET http://proxy.example/?q\n< 0 200\n> 1 CONNECT ://media.example:443\n< 1 200\n",
     ""},
    {"after 101 neither side is read",
     {{true, get("/ws", "Upgrade: websocket\r\n")},
      {false, "HTTP/1.1 101 Switching Protocols\r\n\r\n\x81\x05hello"},
      {true, "\x81\x85 masked"}},
     "> 0 GET https://h/ws\n",
     ""},
    {"texts over their bounds: dropped requests go unanswered",
     {{true, get(kLongPath) + get("/r", "Referer: /" + std::string(1024, 'r') + "\r\n") +
                 get("/u", "User-Agent: a\x01z\r\nCookie: " + std::string(2049, 'c') + "\r\n") +
                 "GET / HTTP/1.1\r\nHost: " + std::string(256, 'h') + "\r\n\r\n" + get("/ok")},
      {false, std::string("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n") +
                  "HTTP/1.1 201 OK\r\nContent-Length: 0\r\n\r\n" +
                  "HTTP/1.1 202 OK\r\nContent-Length: 0\r\n\r\n" +
                  "HTTP/1.1 203 OK\r\nContent-Length: 0\r\n\r\n" +
                  "HTTP/1.1 206 OK\r\nContent-Length: 0\r\n\r\n"}},
     "> 0 GET https://h/r\n> 1 GET https://h/u\n> 2 GET https://h/ok\n< 0 201\n< 1 202\n< 2 206\n",
     ""},
    {"head over 64 KiB",
     {{true, "GET / HTTP/1.1\r\nX-Long: " + std::string(70000, 'a')}},
     "",
     "request head longer than 65536 bytes"},
    {"client stream is not HTTP", {{true, "\x16\x03\x01\x02\x01\r\n\r\n"}}, "", "no request line"},
    {"server stream is not HTTP",
     {{true, get("/")}, {false, "SSH-2.0-x\r\n\r\n"}},
     "> 0 GET https://h/\n",
     "no status line"},
    {"chunk size that is not a number",
     {{true, get("/")}, {false, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"}},
     "> 0 GET https://h/\n< 0 200\n",
     "chunk size is not a hexadecimal number"},
    {"chunk data running past its size",
     {{true, get("/")},
      {false, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n0\r\n\r\n"}},
     "> 0 GET https://h/\n< 0 200\n",
     "chunk data not followed by a line end"},
    {"request lengths that disagree",
     {{true, "POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd" + get("/")}},
     "",
     "request body length cannot be told"},
};

TEST(Http1Connection, ReadsHeadsInEveryChunking) {
    for (const Http1Case& c : kCases) {
        for (HttpTranscript::Chunking chunking : HttpTranscript::kChunkings) {
            SCOPED_TRACE(::testing::Message() << c.name << ", chunking " << int(chunking));
            Http1Connection connection;
            HttpTranscript transcript;
            transcript.feed(connection, c.segments, chunking);
            EXPECT_EQ(transcript.text, c.expected);
            EXPECT_EQ(connection.failed(), !c.failure.empty()) << connection.failure();
            EXPECT_NE(connection.failure().find(c.failure), std::string_view::npos)
                << connection.failure();
        }
    }
}

TEST(Http1Connection, OriginFormTakesTheConnectionsScheme) {
    Http1Connection connection("HTTP");
    HttpTranscript transcript;
    transcript.feed(connection, {{true, get("/a")}}, HttpTranscript::Chunking::Whole);
    EXPECT_EQ(transcript.text, "> 0 GET http://h/a\n");
}

}  // namespace
