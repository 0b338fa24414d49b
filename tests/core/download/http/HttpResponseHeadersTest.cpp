#include "core/download/http/HttpResponseHeaders.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

// Feeds `head` line by line; returns how many header blocks it ended.
int TakeAll(HttpResponseHeaders& headers, std::string_view head) {
    int ended = 0;
    while (!head.empty()) {
        const std::size_t end = std::min(head.find('\n'), head.size() - 1) + 1;
        ended += headers.take(head.substr(0, end)) ? 1 : 0;
        head.remove_prefix(end);
    }
    return ended;
}

// What is kept, the fields without a value left out.
std::string Kept(const HttpResponseHeaders& h) {
    std::ostringstream out;
    out << h.status() << " [" << h.statusLine() << "]";
    if (const auto length = h.contentLength()) {
        out << " length=" << *length;
    }
    if (const auto range = h.contentRange()) {
        out << " range=" << range->first << '-' << range->last << '/' << range->total;
    }
    out << (h.contentType().empty() ? "" : " type=") << h.contentType()
        << (h.rangeValidator().empty() ? "" : " validator=") << h.rangeValidator()
        << (h.realm().empty() ? "" : " realm=") << h.realm();
    if (h.retryAfterSeconds() >= 0) {
        out << " retry=" << h.retryAfterSeconds();
    }
    return out.str();
}

}  // namespace

TEST(HttpResponseHeaders, KeepsWhatTheLastResponseSaid) {
    const struct {
        const char* head;
        const char* kept;
        int ended;
    } cases[] = {
        // Names in any case, values without their blanks; nothing before a status line.
        {"Content-Length: 5\r\nhttp/1.1 200 OK\r\nCONTENT-LENGTH:  12 \r\n"
         "content-type:\tvideo/mp4\r\n\r\n",
         "200 [http/1.1 200 OK] length=12 type=video/mp4", 1},
        // Unreadable numbers are not kept; a repeat that is unreadable forgets the one before.
        {"HTTP/1.1 503 Busy\r\nContent-Length: 5\r\nContent-Length: 5 5\r\nRetry-After: -3\r\n",
         "503 [HTTP/1.1 503 Busy]", 0},
        {"HTTP/1.1 429 Slow\r\nRetry-After: 7\r\n", "429 [HTTP/1.1 429 Slow] retry=7", 0},
        // An interim answer's fields do not outlive it.
        {"HTTP/1.1 100 Continue\r\nETag: \"a\"\r\n\r\nHTTP/1.1 200 OK\r\nLast-Modified: "
         "Mon\r\n\r\n",
         "200 [HTTP/1.1 200 OK] validator=Mon", 2},
        {"HTTP/1.1 200 OK\r\nETag: W/\"a\"\r\nLast-Modified: Mon\r\n",
         "200 [HTTP/1.1 200 OK] validator=Mon", 0},
        {"HTTP/1.1 200 OK\r\nLast-Modified: Mon\r\nETag: \"a\"\r\n",
         "200 [HTTP/1.1 200 OK] validator=\"a\"", 0},
        {"HTTP/1.1 206 P\r\nContent-Range: Bytes 5-9/10\r\n", "206 [HTTP/1.1 206 P] range=5-9/10",
         0},
        {"HTTP/1.1 206 P\r\nContent-Range: bytes 0-9/*\r\n", "206 [HTTP/1.1 206 P]", 0},
        // The first login challenge of the request names the realm, whoever asks later.
        {"HTTP/1.1 407 P\r\nProxy-Authenticate: Basic realm=\"proxy\"\r\n\r\n"
         "HTTP/1.1 401 W\r\nWWW-Authenticate: Basic realm=\"web\"\r\n\r\n",
         "401 [HTTP/1.1 401 W] realm=proxy", 2},
        {"HTTP/1.1 200 O\x01K\r\nContent-Type: a\x1b[2Jb\r\n", "200 [HTTP/1.1 200 O?K] type=a?[2Jb",
         0},
        {"HTTP/1.1 abc\r\n\r\n", "0 [HTTP/1.1 abc]", 1},
    };
    for (const auto& c : cases) {
        HttpResponseHeaders headers;
        EXPECT_EQ(TakeAll(headers, c.head), c.ended) << c.head;
        EXPECT_EQ(Kept(headers), c.kept) << c.head;
    }
}

// The other fields stay until the next response begins.
TEST(HttpResponseHeaders, NewRequestForgetsStatusLineAndRealm) {
    HttpResponseHeaders headers;
    TakeAll(headers, "HTTP/1.1 503 B\r\nRetry-After: 7\r\nWWW-Authenticate: x realm=\"r\"\r\n");
    headers.beginRequest();
    EXPECT_EQ(Kept(headers), "0 [] retry=7");
    EXPECT_FALSE(headers.take("\r\n"));
}
