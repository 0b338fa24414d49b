#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "support/NetnsPair.h"

namespace {

// One HTTPS exchange captured with its key log, and what detect makes of it.
struct HttpsCase {
    const char* name;
    const char* server;      // openssl (HTTP/1.x), nghttpd (HTTP/2) or quic (HTTP/3)
    const char* clientArgs;  // how the client talks
    bool withKeys;
    std::vector<std::string> urls;  // the rows, in order
    const char* stderrHas;
    bool keysInCapture = false;  // the key log carried inside a pcapng copy of the capture
    const char* jsonHas = "";    // in every row's JSON line
};

const HttpsCase kCases[] = {
    {"TLS 1.3, HTTP/1.1",
     "openssl",
     "--http1.1",
     true,
     {"https://media.test/v/a.mp4", "https://media.test/v/b.m3u8"},
     "",
     false,
     "\"httpVersion\":\"1.1\",\"sni\":\"media.test\""},
    {"TLS 1.2",
     "openssl",
     "--http1.1 --tls-max 1.2",
     true,
     {"https://media.test/v/a.mp4", "https://media.test/v/b.m3u8"},
     ""},
    {"TLS 1.3 ChaCha20",
     "openssl",
     "--http1.1 --tls13-ciphers TLS_CHACHA20_POLY1305_SHA256",
     true,
     {"https://media.test/v/a.mp4", "https://media.test/v/b.m3u8"},
     ""},
    {"TLS 1.2 ChaCha20",
     "openssl",
     "--http1.1 --tls-max 1.2 --ciphers ECDHE-ECDSA-CHACHA20-POLY1305",
     true,
     {"https://media.test/v/a.mp4", "https://media.test/v/b.m3u8"},
     ""},
    {"HTTP/2",
     "nghttpd",
     "--http2",
     true,
     {"https://media.test/v/a.mp4", "https://media.test/v/b.m3u8"},
     "",
     false,
     "\"httpVersion\":\"2\",\"sni\":\"media.test\""},
    {"HTTP/3 over QUIC",
     "quic",
     "",
     true,
     {"https://media.test/v/a.mp4", "https://media.test/v/b.m3u8"},
     "",
     false,
     "\"httpVersion\":\"3\",\"sni\":\"localhost\""},
    {"HTTP/3 with a key update",
     "quic",
     "--key-update=1ms --delay-stream=20ms",
     true,
     {"https://media.test/v/a.mp4", "https://media.test/v/b.m3u8"},
     ""},
    {"HTTP/3 without keys",
     "quic",
     "",
     false,
     {},
     "1 encrypted connections could not be read without keys (--keylog): localhost (1)"},
    {"without keys",
     "openssl",
     "--http1.1",
     false,
     {},
     "2 encrypted connections could not be read without keys (--keylog): media.test (2)"},
    {"keys inside the pcapng",
     "openssl",
     "--http1.1",
     false,
     {"https://media.test/v/a.mp4", "https://media.test/v/b.m3u8"},
     "",
     true},
};

class HttpsDetect : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorvex-https-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::ofstream(dir_ / "sufix.txt") << ".mp4\n.m3u8\n";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
};

// The "url" of each JSON line.
std::vector<std::string> Urls(const std::vector<std::string>& lines) {
    std::vector<std::string> urls;
    for (const std::string& line : lines) {
        const std::size_t start = line.find("\"url\":\"") + 7;
        urls.push_back(line.substr(start, line.find('"', start) - start));
    }
    return urls;
}

TEST_F(HttpsDetect, CapturedExchangesGiveTheirRows) {
    for (const HttpsCase& c : kCases) {
        SCOPED_TRACE(c.name);
        NetnsPair pair;
        QVX_REQUIRE_NETNS(pair);
        const std::filesystem::path work = dir_ / std::to_string(&c - kCases);
        ASSERT_TRUE(NetnsPair::Shell(
            std::string(QUORVEX_SOURCE_DIR) + "/tests/support/https_capture.sh " + pair.serverNs() +
            " " + pair.clientNs() + " " + pair.serverIf() + " " + NetnsPair::kServerAddress + " " +
            work.string() + " " + c.server + " " + c.clientArgs));
        std::filesystem::path capture = work / "capture.pcap";
        if (c.keysInCapture) {
            capture = work / "capture.pcapng";
            ASSERT_TRUE(NetnsPair::Shell(
                "editcap -F pcapng --inject-secrets tls," + (work / "keys.log").string() + " " +
                (work / "capture.pcap").string() + " " + capture.string()));
        }
        std::vector<std::string> args{"detect", "--pcap",        capture.string(),
                                      "--json", "--suffix-file", (dir_ / "sufix.txt").string()};
        if (c.withKeys) {
            args.insert(args.end(), {"--keylog", (work / "keys.log").string()});
        }
        CliProcess cli(args);
        ASSERT_TRUE(cli.started());
        EXPECT_EQ(cli.Finish(), 0) << cli.errors();
        EXPECT_EQ(Urls(cli.lines()), c.urls) << cli.errors();
        for (const std::string& line : cli.lines()) {
            EXPECT_NE(line.find(c.jsonHas), std::string::npos) << line;
        }
        EXPECT_NE(cli.errors().find(c.stderrHas), std::string::npos) << cli.errors();
    }
}

TEST_F(HttpsDetect, AnUnreadableKeyLogIsABadArgument) {
    std::ofstream(dir_ / "empty.pcap");
    CliProcess cli({"detect", "--pcap", (dir_ / "empty.pcap").string(), "--keylog",
                    (dir_ / "missing.log").string()});
    ASSERT_TRUE(cli.started());
    EXPECT_EQ(cli.Finish(), 2);
    EXPECT_NE(cli.errors().find("cannot read the key log"), std::string::npos) << cli.errors();
}

}  // namespace
