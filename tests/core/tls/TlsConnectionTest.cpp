#include "core/tls/TlsConnection.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TlsSession.h"
#include "support/CaseName.h"

namespace {

using State = TlsConnection::State;

struct CollectingSink : TlsPlaintextSink {
    std::string fromClient;
    std::string fromServer;
    void onApplicationData(bool client, std::span<const std::uint8_t> bytes) override {
        (client ? fromClient : fromServer).append(bytes.begin(), bytes.end());
    }
};

enum class Order { Interleaved, ClientFirst, ServerFirst };
enum class Keys {
    Before,       // the key log is read before the traffic
    After,        // read after all of it: held, then decrypted on retry
    InTwoParts,   // handshake secrets before, traffic secrets after
    Never,        // the owner stops waiting
    OverBound,    // more ciphertext waits than the bound allows
    OtherRandom,  // the lines name another client random, as with Encrypted Client Hello
};

// What the conversation does besides the usual request and response.
enum Twist : unsigned {
    kNoTwist = 0,
    kKeyUpdate = 1,     // the server updates its key mid-response and asks the client to
    kRetry = 2,         // a HelloRetryRequest: the client's key share is for a refused group
    kFlipLastByte = 4,  // the server's last record is damaged
};

struct ConversationCase {
    const char* name;
    int version;
    const char* cipher;
    std::uint16_t suite;
    const char*
        alpn;  // the server's choice; without, the connection names the client's first offer
    unsigned twists;
    Order order;
    Keys keys;
    State expected;
};

// Failures name the row, not its bytes.
void PrintTo(const ConversationCase& c, std::ostream* out) {
    *out << c.name;
}

// Feeds one side's segments in chunks of varying size, as TCP might deliver them.
void feedSegment(TlsConnection& connection, const TlsTranscript::Segment& segment, KeyLog& keys,
                 CollectingSink& sink, std::size_t& turn) {
    static const std::size_t kChunks[] = {1, 3, 1460, 7, 512, 16000, 5, 2900};
    std::span<const std::uint8_t> rest(segment.bytes);
    while (!rest.empty()) {
        std::size_t size = std::min(rest.size(), kChunks[turn++ % std::size(kChunks)]);
        connection.feed(segment.fromClient, rest.first(size), keys, sink);
        rest = rest.subspan(size);
    }
}

void feedAll(TlsConnection& connection, const TlsTranscript& transcript, Order order, KeyLog& keys,
             CollectingSink& sink) {
    std::size_t turn = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (const TlsTranscript::Segment& segment : transcript.segments) {
            bool clientPass = (pass == 0) == (order == Order::ClientFirst);
            if (order == Order::Interleaved ? pass == 0 : segment.fromClient == clientPass) {
                feedSegment(connection, segment, keys, sink, turn);
            }
        }
    }
}

// Key log text made from the session's: wiped when dropped, never grown in place.
struct WipedText {
    std::string text;
    explicit WipedText(std::size_t capacity) { text.reserve(capacity); }
    ~WipedText() { OPENSSL_cleanse(text.data(), text.size()); }
};

// The key log's lines with their client random replaced by another one.
void withOtherRandom(const std::string& keyLog, WipedText& out) {
    out.text = keyLog;
    std::string& lines = out.text;
    for (std::size_t at = 0, space; (space = lines.find(' ', at)) != std::string::npos;) {
        lines.replace(space + 1, 64, 64, 'a');
        at = lines.find('\n', space);
    }
}

// The lines of the handshake secrets, or the others.
void linesWith(const std::string& keyLog, bool handshake, WipedText& out) {
    for (std::size_t at = 0, end; at < keyLog.size(); at = end + 1) {
        end = std::min(keyLog.find('\n', at), keyLog.size() - 1);
        std::string_view line = std::string_view(keyLog).substr(at, end - at + 1);
        if ((line.find("HANDSHAKE") != std::string_view::npos) == handshake) {
            out.text += line;
        }
    }
}

class TlsConversation : public testing::TestWithParam<ConversationCase> {};

TEST_P(TlsConversation, DecryptsWhatTheApplicationsWrote) {
    const ConversationCase& c = GetParam();
    TlsSessionOptions options;
    options.version = c.version;
    options.cipher = c.cipher;
    options.alpn = c.alpn;
    options.serverName = "media.quorvex.test";
    options.keyUpdate = (c.twists & kKeyUpdate) != 0;
    options.retryRequest = (c.twists & kRetry) != 0;
    options.request = "GET /clip.mp4 HTTP/1.1\r\nHost: media.quorvex.test\r\n\r\n";
    for (int i = 0; options.response.size() < 40000; ++i) {
        options.response += "segment " + std::to_string(i) + ";";
    }
    TlsTranscript transcript;
    runTlsSession(options, transcript);
    ASSERT_TRUE(transcript.completed);
    ASSERT_EQ(transcript.clientRead, options.response);
    if ((c.twists & kFlipLastByte) != 0) {
        auto last = std::find_if(transcript.segments.rbegin(), transcript.segments.rend(),
                                 [](const auto& s) { return !s.fromClient; });
        last->bytes.back() ^= 0x01;
    }

    KeyLog keys;
    CollectingSink sink;
    TlsConnection connection(TlsConnection::Limits{c.keys == Keys::OverBound ? 4096u : 1u << 20});
    WipedText first(transcript.keyLog.size()), second(transcript.keyLog.size());
    if (c.keys == Keys::Before) {
        keys.addText(transcript.keyLog);
    } else if (c.keys == Keys::InTwoParts) {
        linesWith(transcript.keyLog, true, first);
        linesWith(transcript.keyLog, false, second);
        keys.addText(first.text);
    } else if (c.keys == Keys::OtherRandom) {
        withOtherRandom(transcript.keyLog, first);
        keys.addText(first.text);
        // A newer entry of some other connection, tried first and passed over.
        keys.addText("CLIENT_RANDOM " + std::string(64, 'b') + " " + std::string(96, 'c') + "\n");
    }
    feedAll(connection, transcript, c.order, keys, sink);

    if (c.keys == Keys::After || c.keys == Keys::InTwoParts || c.keys == Keys::Never) {
        EXPECT_EQ(connection.state(), State::WaitingForKeys);
        EXPECT_EQ(sink.fromServer, "");
        std::uint64_t generation = keys.generation();
        if (c.keys == Keys::Never) {
            connection.stopWaiting();
        } else {
            keys.addText(c.keys == Keys::After ? transcript.keyLog : second.text);
            EXPECT_NE(keys.generation(), generation);
            connection.retry(keys, sink);
        }
    }
    EXPECT_EQ(connection.state(), c.expected) << connection.failure();
    if (c.expected == State::Decrypting) {
        EXPECT_EQ(sink.fromClient, transcript.serverRead);
        EXPECT_EQ(sink.fromServer, transcript.clientRead);
        EXPECT_EQ(connection.version(), c.version);
        EXPECT_EQ(connection.cipherSuite(), c.suite);
        EXPECT_EQ(connection.alpn(), *c.alpn ? c.alpn : "h2");
        EXPECT_EQ(connection.serverName(), "media.quorvex.test");
    } else if (c.expected == State::Failed) {
        // Everything before the damaged record, nothing of it.
        EXPECT_LT(sink.fromServer.size(), transcript.clientRead.size());
        EXPECT_TRUE(transcript.clientRead.starts_with(sink.fromServer));
        EXPECT_NE(connection.failure().find("authenticate"), std::string_view::npos);
    } else {
        EXPECT_EQ(sink.fromClient + sink.fromServer, "");
        EXPECT_FALSE(connection.failure().empty());
    }
    if (c.keys == Keys::OtherRandom) {
        ClientRandom other;
        other.fill(0xaa);
        EXPECT_FALSE(keys.claim(other)) << "the trial took the entry";
    }
}

constexpr int k12 = TLS1_2_VERSION;
constexpr int k13 = TLS1_3_VERSION;
const char* const kAes128 = "TLS_AES_128_GCM_SHA256";
const char* const kAes256 = "TLS_AES_256_GCM_SHA384";
const char* const kChaCha = "TLS_CHACHA20_POLY1305_SHA256";
const char* const kEcdheAes128 = "ECDHE-ECDSA-AES128-GCM-SHA256";
const char* const kEcdheAes256 = "ECDHE-ECDSA-AES256-GCM-SHA384";
const char* const kEcdheChaCha = "ECDHE-ECDSA-CHACHA20-POLY1305";
constexpr auto I = Order::Interleaved;
constexpr auto C = Order::ClientFirst;
constexpr auto S = Order::ServerFirst;
constexpr auto D = State::Decrypting;

using enum Keys;
const ConversationCase kConversations[] = {
    {"Tls13Aes128H2", k13, kAes128, 0x1301, "h2", kNoTwist, I, Before, D},
    {"Tls13Aes256Http11", k13, kAes256, 0x1302, "http/1.1", kNoTwist, C, Before, D},
    {"Tls13ChaChaNoAlpn", k13, kChaCha, 0x1303, "", kNoTwist, S, Before, D},
    {"Tls12Aes128H2", k12, kEcdheAes128, 0xC02B, "h2", kNoTwist, I, Before, D},
    {"Tls12Aes256Http11", k12, kEcdheAes256, 0xC02C, "http/1.1", kNoTwist, S, Before, D},
    {"Tls12ChaCha", k12, kEcdheChaCha, 0xCCA9, "", kNoTwist, C, Before, D},
    {"KeyUpdate", k13, kAes256, 0x1302, "h2", kKeyUpdate, I, Before, D},
    {"HelloRetryRequest", k13, kAes128, 0x1301, "h2", kRetry, C, Before, D},
    {"RetryAndUpdateServerFirst", k13, kChaCha, 0x1303, "h2", kRetry | kKeyUpdate, S, Before, D},
    {"Tls13KeysAfter", k13, kAes128, 0x1301, "h2", kNoTwist, I, After, D},
    {"Tls12KeysAfter", k12, kEcdheAes128, 0xC02B, "h2", kNoTwist, I, After, D},
    {"KeysInTwoParts", k13, kAes256, 0x1302, "h2", kKeyUpdate, I, InTwoParts, D},
    {"NoKeys", k13, kAes128, 0x1301, "h2", kNoTwist, I, Never, State::NoKeys},
    {"OverTheBound", k12, kEcdheAes128, 0xC02B, "h2", kNoTwist, I, OverBound, State::NoKeys},
    {"Tls13Tampered", k13, kAes128, 0x1301, "h2", kFlipLastByte, I, Before, State::Failed},
    {"Tls12Tampered", k12, kEcdheChaCha, 0xCCA9, "h2", kFlipLastByte, I, Before, State::Failed},
    {"Tls13TrialFindsEntry", k13, kAes128, 0x1301, "h2", kNoTwist, I, OtherRandom, D},
    {"Tls12TrialFindsEntry", k12, kEcdheAes256, 0xC02C, "h2", kNoTwist, S, OtherRandom, D},
};

INSTANTIATE_TEST_SUITE_P(Cases, TlsConversation, testing::ValuesIn(kConversations), CaseName{});

struct NotTlsCase {
    const char* name;
    bool fromClient;
    std::string bytes;
    State expected;
};

TEST(TlsConnection, TellsOtherBytesFromTls) {
    const std::string clientHelloHeader("\x16\x03\x01\x00\x08\x01\x00\x00\x04", 9);
    const NotTlsCase cases[] = {
        {"http request", true, "GET / HTTP/1.1\r\nHost: a\r\n\r\n", State::NotTls},
        {"http answer", false, "HTTP/1.1 400 Bad Request\r\n\r\n", State::NotTls},
        {"ssh banner", true, "SSH-2.0-OpenSSH_9.2\r\n", State::NotTls},
        {"record over the bound", true, std::string("\x16\x03\x01\x48\x01", 5), State::NotTls},
        {"application data first", true, std::string("\x17\x03\x03\x00\x01\x00", 6), State::NotTls},
        {"server hello from the client", true,
         std::string("\x16\x03\x01\x00\x04\x02\x00\x00\x00", 9), State::NotTls},
        {"handshake message over the bound", true,
         std::string("\x16\x03\x01\x00\x04\x01\x05\x00\x00", 9), State::Failed},
        {"truncated client hello", true, clientHelloHeader + std::string("\x03\x03\x00\x00", 4),
         State::Failed},
        {"partial header", true, std::string("\x16\x03", 2), State::Handshake},
        {"hello in pieces", true, std::string("\x16\x03\x01\x00\x02\x01\x00", 7), State::Handshake},
    };
    for (const NotTlsCase& c : cases) {
        KeyLog keys;
        CollectingSink sink;
        TlsConnection connection;
        connection.feed(c.fromClient,
                        {reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()},
                        keys, sink);
        EXPECT_EQ(connection.state(), c.expected) << c.name << ": " << connection.failure();
        EXPECT_EQ(connection.failure().empty(), c.expected == State::Handshake) << c.name;
    }
}

}  // namespace
