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
    const char* plainUrl;  // the row of the same exchange over plain HTTP, if any
};

const ExchangeCase kCases[] = {
    {"a listed suffix", "GET /v/a.mp4?t=1 HTTP/1.1\r\nHost: media.test\r\n\r\n",
     "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true, "https://media.test/v/a.mp4?t=1", ".mp4",
     "MPEG-4 Video", ""},  // over plain HTTP the packet decoder's
    {"a playlist known by its Content-Type",
     "GET /live/index?sig=2 HTTP/1.1\r\nHost: media.test\r\nReferer: https://page.test/\r\n\r\n",
     "HTTP/1.1 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\n"
     "Content-Length: 8\r\n\r\n#EXTM3U\n",
     true, "https://media.test/live/index?sig=2", ".m3u8", "HLS Playlist",
     "http://media.test/live/index?sig=2"},
    {"a page", "GET /watch HTTP/1.1\r\nHost: media.test\r\n\r\n",
     "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n", true, "", "", "",
     ""},
    {"media type on an error", "GET /live/gone HTTP/1.1\r\nHost: media.test\r\n\r\n",
     "HTTP/1.1 404 Not Found\r\nContent-Type: video/mp4\r\nContent-Length: 0\r\n\r\n", true, "", "",
     "", ""},
    {"without keys", "GET /v/a.mp4 HTTP/1.1\r\nHost: media.test\r\n\r\n",
     "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, "", "", "", ""},
};

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

struct Row {
    std::string url, suffix, typeName, referer, httpVersion, serverName;
};

// The rows a reader gives for the datagrams of one connection.
std::vector<Row> ReadRows(const StreamDecoder& decoder, std::shared_ptr<KeyLog> keys,
                          const std::vector<std::vector<std::uint8_t>>& datagrams, bool plain,
                          SecureTrafficReader::Summary* summary = nullptr) {
    std::vector<Row> rows;
    SecureTrafficReader reader(
        decoder, std::move(keys), TlsPorts{},
        [&rows](const StreamFields& f) {
            rows.push_back({std::string(f.host) + std::string(f.path) + std::string(f.query),
                            std::string(f.suffix), std::string(f.typeName), std::string(f.referer),
                            std::string(f.httpVersion), std::string(f.serverName)});
        },
        SecureTrafficReader::Waiting{});
    if (plain) {
        reader.followPlainHttp(WatchedPorts{});
    }
    for (const std::vector<std::uint8_t>& d : datagrams) {
        // Plain segments are for the packet decoder as well.
        EXPECT_EQ(reader.read(d.data(), static_cast<std::uint32_t>(d.size()), 0), !plain);
    }
    reader.finish();
    if (summary != nullptr) {
        *summary = reader.summary();
    }
    return rows;
}

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
        SecureTrafficReader::Summary summary;
        const std::vector<Row> rows =
            ReadRows(decoder, keys, TranscriptDatagrams(transcript), false, &summary);
        // The conversation sends its request twice (the second one unanswered): each
        // sighting is a row as the decoder gives it, the list keeps one.
        EXPECT_EQ(rows.empty(), *c.url == 0);
        for (const Row& row : rows) {
            EXPECT_EQ(row.url, c.url);
            EXPECT_EQ(row.suffix, c.suffix);
            EXPECT_EQ(row.typeName, c.typeName);
            EXPECT_EQ(row.httpVersion, "1.1");
            EXPECT_EQ(row.serverName, "media.test");
        }
        if (c.withKeys) {
            TlsTranscript plain;
            plain.segments = {{true, Bytes(c.request)}, {false, Bytes(c.response)}};
            const std::vector<Row> plainRows =
                ReadRows(decoder, keys, TranscriptDatagrams(plain, 80), true);
            ASSERT_EQ(plainRows.size(), *c.plainUrl == 0 ? 0u : 1u);
            for (const Row& row : plainRows) {
                EXPECT_EQ(row.url, c.plainUrl);
                EXPECT_EQ(row.typeName, c.typeName);
                EXPECT_EQ(row.httpVersion + row.serverName, "");
            }
        }
        const std::uint64_t unread = c.withKeys ? 0 : 1;
        EXPECT_EQ(summary.withoutKeysCount(), unread);
        EXPECT_EQ(summary.withoutKeys.count("media.test"), unread);
    }
}

}  // namespace
