// Writes a capture of HTTPS media traffic and its key log for the `detect --keylog` benchmark:
// real TLS 1.3 connections (OpenSSL, both ends in this process, the suites mixed) carrying
// HTTP/2 requests for playlists and media segments and the responses, interleaved, as a
// classic Ethernet pcap. The same arguments give the same files.
//   make_tls_capture OUT.pcap OUT.keys [MEGABYTES [CONNECTIONS]]   (default 1024 MB, 400)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MediaConnection.h"
#include "SeededRandomSource.h"
#include "TlsContextPair.h"
#include "support/PcapFileWriter.h"

namespace {

constexpr std::uint32_t kLinkEthernet = 1;
constexpr std::size_t kInterleaved = 16;  // connections under way at once
constexpr std::uint64_t kMaxBurst = 24;   // frames of one connection in a row
constexpr const char* kSuites[] = {"TLS_AES_128_GCM_SHA256", "TLS_AES_256_GCM_SHA384",
                                   "TLS_CHACHA20_POLY1305_SHA256"};
constexpr std::uint64_t kServers = 16;
// The share of the file that is response body; the rest is Ethernet, IP, TCP, TLS and HTTP/2
// framing, the ACKs and the pcap record headers.
constexpr double kBodyShare = 0.915;
constexpr std::size_t kBodyPool = 8 << 20;  // bodies are cut from it at random offsets
constexpr std::uint64_t kMinBudget = 128 * 1024;
constexpr std::uint64_t kMaxConnections = 60000;  // client addresses stay inside 10.20.0.0/16
constexpr std::uint64_t kMaxMegabytes = 1 << 20;
constexpr std::size_t kPcapFileHeader = 24;
constexpr std::size_t kPcapRecordHeader = 16;

struct Options {
    const char* capturePath = nullptr;
    const char* keysPath = nullptr;
    std::uint64_t megabytes = 1024;
    std::uint64_t connections = 400;
};

struct Totals {
    std::uint64_t requests = 0;
    std::uint64_t frames = 0;
    std::uint64_t bytes = kPcapFileHeader;
};

std::optional<std::uint64_t> positive(const char* text, std::uint64_t most) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || value == 0 || value > most) {
        return std::nullopt;
    }
    return value;
}

std::optional<Options> parse(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        return std::nullopt;
    }
    Options options{argv[1], argv[2]};
    std::optional<std::uint64_t> megabytes = positive(argc > 3 ? argv[3] : "1024", kMaxMegabytes);
    std::optional<std::uint64_t> connections =
        positive(argc > 4 ? argv[4] : "400", kMaxConnections);
    if (!megabytes || !connections) {
        return std::nullopt;
    }
    options.megabytes = *megabytes;
    options.connections = *connections;
    return options;
}

MediaConnection::Plan planFor(std::uint32_t number, std::uint64_t budget,
                              SeededRandomSource& random) {
    MediaConnection::Plan plan;
    plan.number = number;
    const std::uint64_t server = random.below(kServers);
    plan.host = "cdn" + std::to_string(server) + ".media.test";
    plan.suite = kSuites[random.below(std::size(kSuites))];
    plan.bodyBudget = budget;
    plan.client.address = 0x0A140000u | (number / 250) << 8 | (number % 250 + 2);  // 10.20.x.y
    plan.client.port = static_cast<std::uint16_t>(random.between(32768, 60999));
    plan.server.address = 0xC6336400u | static_cast<std::uint32_t>(server + 10);  // 198.51.100.x
    plan.server.port = 443;
    plan.clientIsn = static_cast<std::uint32_t>(random.below(1ull << 32));
    plan.serverIsn = static_cast<std::uint32_t>(random.below(1ull << 32));
    return plan;
}

// Writes up to `count` frames of the connection, making its next pieces as they are needed;
// false when the connection failed.
bool passBurst(MediaConnection& connection, std::uint64_t count, PcapFileWriter& out,
               Totals& totals) {
    while (count > 0) {
        if (connection.frames().empty()) {
            if (connection.finished()) {
                return true;
            }
            if (!connection.step()) {
                return false;
            }
            continue;
        }
        const TcpConversation::Frame& frame = connection.frames().front();
        out.add(frame);
        totals.bytes += kPcapRecordHeader + frame.size();
        ++totals.frames;
        connection.frames().pop_front();
        --count;
    }
    return true;
}

// Runs the connections a few at a time, each passing on a short burst of frames in turn.
bool writeConnections(PcapFileWriter& out, const TlsContextPair& contexts, std::string_view bodies,
                      SeededRandomSource& random, const Options& options, Totals& totals) {
    const auto bodyBytes =
        static_cast<std::uint64_t>(static_cast<double>(options.megabytes << 20) * kBodyShare);
    const std::uint64_t budget = std::max(kMinBudget, bodyBytes / options.connections);
    std::vector<std::unique_ptr<MediaConnection>> active;
    std::uint32_t started = 0;
    while (true) {
        while (active.size() < kInterleaved && started < options.connections) {
            active.push_back(std::make_unique<MediaConnection>(
                contexts, planFor(started, budget, random), bodies, random));
            ++started;
        }
        if (active.empty()) {
            return true;
        }
        const std::size_t chosen = random.below(active.size());
        MediaConnection& connection = *active[chosen];
        if (!passBurst(connection, random.between(1, kMaxBurst), out, totals)) {
            return false;
        }
        if (connection.finished() && connection.frames().empty()) {
            totals.requests += connection.requests();
            active.erase(active.begin() + static_cast<std::ptrdiff_t>(chosen));
        }
    }
}

// The key log as a browser leaves it: readable by its owner only.
bool writeKeys(const char* path, const std::string& lines) {
    const int file = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < lines.size()) {
        const ssize_t written = write(file, lines.data() + done, lines.size() - done);
        if (written <= 0) {
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    return close(file) == 0 && done == lines.size();
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parse(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: make_tls_capture OUT.pcap OUT.keys [MEGABYTES [CONNECTIONS]]\n"
                     "       (default 1024 MB in 400 connections)\n");
        return 2;
    }
    const auto begin = std::chrono::steady_clock::now();
    SeededRandomSource random(0x9E3779B97F4A7C15ull ^ options->megabytes << 20 ^
                              options->connections);
    if (!random.ok()) {
        std::fprintf(stderr, "make_tls_capture: cannot seed OpenSSL's random numbers\n");
        return 2;
    }
    TlsContextPair contexts;
    if (!contexts.ok()) {
        std::fprintf(stderr, "make_tls_capture: cannot make the TLS contexts\n");
        return 2;
    }
    std::string bodies(kBodyPool, '\0');
    random.fill(reinterpret_cast<std::uint8_t*>(bodies.data()), bodies.size());
    PcapFileWriter out(options->capturePath, kLinkEthernet);
    if (!out.ok()) {
        std::perror(options->capturePath);
        return 2;
    }
    Totals totals;
    if (!writeConnections(out, contexts, bodies, random, *options, totals)) {
        std::fprintf(stderr, "make_tls_capture: a TLS connection failed\n");
        return 1;
    }
    if (!out.close()) {
        std::perror(options->capturePath);
        return 2;
    }
    const bool keysWritten = writeKeys(options->keysPath, contexts.keyLog());
    contexts.wipeKeyLog();
    if (!keysWritten) {
        std::perror(options->keysPath);
        return 2;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::printf("%s: %llu connections, %llu requests, %llu frames, %.1f MiB in %.1f s\n",
                options->capturePath, static_cast<unsigned long long>(options->connections),
                static_cast<unsigned long long>(totals.requests),
                static_cast<unsigned long long>(totals.frames),
                static_cast<double>(totals.bytes) / (1 << 20), seconds);
    return 0;
}
