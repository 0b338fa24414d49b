#include "core/session/SecureTrafficReader.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <vector>

#include "core/detect/SuffixListFile.h"
#include "core/tls/TlsSession.h"
#include "support/TranscriptDatagrams.h"

namespace {

// One HTTPS exchange (TLS 1.3, HTTP/1.1) and the row it must give, if any.
struct ExchangeCase {
    const char* name;
    const char* request;
    const char* response;
    bool withKeys;
    const char* url;  // host, path and query of the row; empty: no row
    const char* suffix;
    const char* typeName;
};

const ExchangeCase kCases[] = {
    {"a listed suffix", "GET /v/a.mp4?t=1 HTTP/1.1\r\nHost: media.test\r\n\r\n",
     "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true, "https://media.test/v/a.mp4?t=1", ".mp4",
     "Other"},
    {"a playlist known by its Content-Type",
     "GET /live/index?sig=2 HTTP/1.1\r\nHost: media.test\r\nReferer: https://page.test/\r\n\r\n",
     "HTTP/1.1 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\n"
     "Content-Length: 8\r\n\r\n#EXTM3U\n",
     true, "https://media.test/live/index?sig=2", ".m3u8", "HLS Playlist"},
    {"a page", "GET /watch HTTP/1.1\r\nHost: media.test\r\n\r\n",
     "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n", true, "", "", ""},
    {"media type on an error", "GET /live/gone HTTP/1.1\r\nHost: media.test\r\n\r\n",
     "HTTP/1.1 404 Not Found\r\nContent-Type: video/mp4\r\nContent-Length: 0\r\n\r\n", true, "", "",
     ""},
    {"without keys", "GET /v/a.mp4 HTTP/1.1\r\nHost: media.test\r\n\r\n",
     "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, "", "", ""},
};

struct Row {
    std::string url, suffix, typeName, referer;
};

TEST(SecureTrafficReader, ExchangesGiveTheirRows) {
    StreamDecoder decoder;
    decoder.setSuffixTable(SuffixListFile::parse(".mp4\n"));
    for (const ExchangeCase& c : kCases) {
        SCOPED_TRACE(c.name);
        TlsSessionOptions options;
        options.version = TLS1_3_VERSION;
        options.cipher = "TLS_AES_128_GCM_SHA256";
        options.alpn = "http/1.1";
        options.serverName = "media.test";
        options.request = c.request;
        options.response = c.response;
        TlsTranscript transcript;
        runTlsSession(options, transcript);
        ASSERT_TRUE(transcript.completed);
        auto keys = std::make_shared<KeyLog>();
        if (c.withKeys) {
            keys->addText(transcript.keyLog);
        }
        std::vector<Row> rows;
        SecureTrafficReader reader(
            decoder, keys, TlsPorts{},
            [&rows](const StreamFields& f) {
                rows.push_back({std::string(f.host) + std::string(f.path) + std::string(f.query),
                                std::string(f.suffix), std::string(f.typeName),
                                std::string(f.referer)});
            },
            SecureTrafficReader::Waiting{});
        for (const std::vector<std::uint8_t>& d : TranscriptDatagrams(transcript)) {
            EXPECT_TRUE(reader.read(d.data(), static_cast<std::uint32_t>(d.size()), 0));
        }
        reader.finish();
        // The conversation sends its request twice (the second one unanswered): each
        // sighting is a row as the decoder gives it, the list keeps one.
        EXPECT_EQ(rows.empty(), *c.url == 0);
        for (const Row& row : rows) {
            EXPECT_EQ(row.url, c.url);
            EXPECT_EQ(row.suffix, c.suffix);
            EXPECT_EQ(row.typeName, c.typeName);
        }
        const std::uint64_t unread = c.withKeys ? 0 : 1;
        EXPECT_EQ(reader.summary().withoutKeysCount(), unread);
        EXPECT_EQ(reader.summary().withoutKeys.count("media.test"), unread);
    }
}

}  // namespace
