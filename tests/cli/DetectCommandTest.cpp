#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/PcapFileWriter.h"
#include "support/StandInTools.h"
#include "support/TestPackets.h"

namespace {

using test_packets::Tcp;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

class DetectCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorvex-detect-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        suffixFile_ = (dir_ / "sufix.txt").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // `shellPrefix` comes before the command in the same shell (a ulimit, or a pipe into the
    // program's standard input).
    CliRun run(const std::string& arguments, const std::string& shellPrefix = "") {
        std::string command = shellPrefix + std::string(QUORVEX_BINARY_DIR) +
                              "/src/cli/quorvex-cli detect " + arguments + " 2>" +
                              (dir_ / "err").string();
        CliRun result{};
        FILE* pipe = popen(command.c_str(), "r");
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            result.out.append(buffer, n);
        }
        int status = pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream err(dir_ / "err");
        std::getline(err, result.err, '\0');
        return result;
    }

    std::string pcap(const char* name, std::uint32_t linkType,
                     const std::vector<std::vector<std::uint8_t>>& frames) {
        std::string path = (dir_ / name).string();
        PcapFileWriter writer(path, linkType);
        for (const auto& frame : frames) {
            writer.add(frame);
        }
        EXPECT_TRUE(writer.close());
        return path;
    }

    std::string args(const std::string& pcapPath, const std::string& more = "") {
        return "--pcap " + pcapPath + " --suffix-file " + suffixFile_ + " " + more;
    }

    std::filesystem::path dir_;
    std::string suffixFile_;
};

std::vector<std::uint8_t> request(const std::string& path, const std::string& host,
                                  std::uint16_t srcPort = 40000) {
    Tcp tcp;
    tcp.srcPort = srcPort;
    return test_packets::datagram("GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n", tcp);
}

std::vector<std::vector<std::uint8_t>> sampleTraffic() {
    Tcp other;
    other.dstPort = 443;
    return {
        request("/v/a.asf", "S"),
        test_packets::datagram("GET /x.asf HTTP/1.1\r\nHost: T\r\n", other),
        request("/b.wmv", "S"),
        request("/v/a.asf", "S", 40001),  // a repeat
        request("/index.html", "S"),
    };
}

TEST_F(DetectCommand, FindsStreamsBehindEveryLinkType) {
    using test_packets::prepend;
    struct Case {
        const char* name;
        std::uint32_t linkType;
        std::vector<std::uint8_t> header;
    } cases[] = {
        {"ethernet", 1, test_packets::ethernetHeader()},
        {"vlan", 1, test_packets::ethernetHeader({0x8100})},
        {"qinq", 1, test_packets::ethernetHeader({0x88A8, 0x8100})},
        {"cooked", 113, test_packets::linuxCookedHeader()},
        {"raw", 101, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::vector<std::uint8_t>> frames;
        for (const auto& datagram : sampleTraffic()) {
            frames.push_back(prepend(c.header, datagram));
        }
        CliRun r = run(args(pcap(c.name, c.linkType, frames)));
        EXPECT_EQ(r.status, 0) << c.name << r.err;
        EXPECT_EQ(r.out,
                  "http://S/v/a.asf\t.asf\tWindows Media Format\n"
                  "http://S/b.wmv\t.wmv\tWindous Media Video\n")
            << c.name;
    }
}

TEST_F(DetectCommand, AllPrintsRepeatsAndJsonCarriesTheFields) {
    std::string file = pcap("all", 101, sampleTraffic());
    CliRun all = run(args(file, "--all"));
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.out,
              "http://S/v/a.asf\t.asf\tWindows Media Format\n"
              "http://S/b.wmv\t.wmv\tWindous Media Video\n"
              "http://S/v/a.asf\t.asf\tWindows Media Format\n");

    CliRun json = run(args(file, "--json"));
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out.substr(0, json.out.find('\n')),
              "{\"scheme\":\"http\",\"host\":\"http://S\",\"path\":\"/v/a.asf\",\"query\":\"\","
              "\"url\":\"http://S/v/a.asf\",\"suffix\":\".asf\",\"typeName\":\"Windows Media "
              "Format\",\"referer\":\"\",\"userAgent\":\"\",\"srcAddr\":\"10.0.0.1\",\"dstAddr\":"
              "\"10.0.0.2\",\"srcPort\":40000,"
              "\"dstPort\":80}");
}

TEST_F(DetectCommand, JsonEscapesBytesThatAreNotUtf8) {
    std::string file = pcap("bytes", 101, {request("/\x82\xA0\"q\".asf", "S\\")});
    CliRun json = run(args(file, "--json"));
    EXPECT_NE(json.out.find("\"path\":\"/\\u0082\\u00A0\\\"q\\\".asf\""), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"host\":\"http://S\\\\\""), std::string::npos) << json.out;
}

TEST_F(DetectCommand, TextOutputEscapesTerminalControls) {
    std::string file = pcap("escapes", 101, {request("/\x1B]0;owned\x07\x1B[2J.asf", "S")});
    CliRun r = run(args(file));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "http://S/\\x1B]0;owned\\x07\\x1B[2J.asf\t.asf\tWindows Media Format\n");
}

TEST_F(DetectCommand, PaddingAfterAShortDatagramIsNotHandedOver) {
    // The host header lacks its line feed; padding bytes after the datagram must not supply it.
    auto datagram = test_packets::datagram("GET /a.asf HTTP/1.1\r\nHost: S");
    auto frame = test_packets::prepend(test_packets::ethernetHeader(), datagram);
    CliRun control = run(args(pcap("control", 1, {frame})));
    frame.insert(frame.end(), {'\n', 0});
    CliRun r = run(args(pcap("padded", 1, {frame})));
    EXPECT_EQ(control.out, "");
    EXPECT_EQ(r.out, "");
}

TEST_F(DetectCommand, CreatesAMissingSuffixFileWithTheDefaults) {
    std::string file = pcap("flv", 101, {request("/c.flv", "S")});
    CliRun r = run(args(file));
    EXPECT_EQ(r.out, "http://S/c.flv\t.flv\tFlash Video\n");
    EXPECT_TRUE(std::filesystem::exists(suffixFile_));
    std::ofstream(suffixFile_) << "# only flash\n.swf\n";
    EXPECT_EQ(run(args(file)).out, "");
}

TEST_F(DetectCommand, BadArgumentsAndUnreadableInputsExitWithTwo) {
    std::string good = pcap("good", 101, {request("/c.flv", "S")});
    std::ofstream(dir_ / "junk") << "not a capture file";
    std::filesystem::create_directory(dir_ / "adir");
    struct Case {
        const char* name;
        std::string arguments;
    } cases[] = {
        {"no --pcap", "--json"},
        {"unknown option", args(good, "--bogus")},
        {"stray word", args(good, "extra")},
        {"missing file", args((dir_ / "none.pcap").string())},
        {"not a capture", args((dir_ / "junk").string())},
        {"unusable suffix file", "--pcap " + good + " --suffix-file " + (dir_ / "adir").string()},
        {"unsupported link type", args(pcap("ppp", 9, {request("/c.flv", "S")}))},
        {"no list at all", args(good, "--max-streams 0")},
        {"list limit not a number", args(good, "--max-streams many")},
        {"port zero", args(good, "--port 0")},
        {"port too large", args(good, "--port 65536")},
        {"port not a number", args(good, "--port 80x")},
        {"port without value", args(good, "--port")},
        {"not a capture on stdin", args("-") + " < " + (dir_ / "junk").string()},
        {"unknown tool", args(good, "--as wget")},
        {"tool without name", args(good, "--as")},
        {"json and a command", args(good, "--json --as curl")},
    };
    for (const Case& c : cases) {
        CliRun r = run(c.arguments);
        EXPECT_EQ(r.status, 2) << c.name;
        EXPECT_EQ(r.out, "") << c.name;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << ": " << r.err;
    }
    CliRun help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--suffix-file"), std::string::npos);
}

std::vector<std::vector<std::uint8_t>> uniqueRequests(int count) {
    std::vector<std::vector<std::uint8_t>> frames;
    frames.reserve(static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        frames.push_back(request("/flood/" + std::to_string(n) + ".asf", "S"));
    }
    return frames;
}

TEST_F(DetectCommand, AFullListDropsNewStreamsAndSaysHowMany) {
    std::vector<std::vector<std::uint8_t>> frames = uniqueRequests(20);
    frames.push_back(request("/flood/0.asf", "S"));  // a repeat of a listed stream
    CliRun r = run(args(pcap("flood", 101, frames), "--max-streams 5"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5);
    EXPECT_EQ(r.out.find("http://S/flood/0.asf\t"), 0u);
    EXPECT_EQ(r.err,
              "quorvex-cli detect: 15 new streams dropped: the list holds at most 5 rows "
              "(--max-streams)\n");
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// Address space for quorvex-cli detect: its libraries (about 30 MiB) and some 250,000 rows,
// short of the 400,000 streams of the flood.
constexpr long kMemoryLimitKiB = 64 * 1024;

// Out of memory, new streams are dropped and counted, and the program ends normally
// (it used to abort with std::bad_alloc from the packet path).
TEST_F(DetectCommand, AFloodUnderAMemoryLimitEndsCleanly) {
    if (kSanitized) {
        GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
    }
    std::string file = pcap("flood", 101, uniqueRequests(400'000));
    CliRun r = run(args(file), "ulimit -v " + std::to_string(kMemoryLimitKiB) + "; ");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("new streams dropped"), std::string::npos) << r.err;
    EXPECT_GT(std::count(r.out.begin(), r.out.end(), '\n'), 1000);
}

std::vector<std::uint8_t> segment(const std::string& text, std::uint16_t dstPort,
                                  bool ipv6 = false) {
    Tcp tcp;
    tcp.dstPort = dstPort;
    tcp.options = std::string_view("\x01\x01\x08\x0a\x00\x00\x10\x00\x00\x00\x00\x00", 12);
    if (!ipv6) {
        return test_packets::datagram(text, tcp);
    }
    test_packets::Ipv6 ip;
    ip.extensions = {{60, 8}};
    return test_packets::datagram6(text, tcp, ip);
}

// Today's traffic: TCP timestamps, signed URLs, IPv6, an added port, a capture through a pipe.
TEST_F(DetectCommand, QueriesIpv6AddedPortsAndStandardInput) {
    std::string file =
        pcap("today", 101,
             {segment("GET /cdn/c.wmv?sig=1&exp=2 HTTP/1.1\r\nHost: cdn\r\n\r\n", 80),
              segment("GET /cdn/c.wmv?sig=3 HTTP/1.1\r\nHost: cdn\r\n\r\n", 80),
              segment("GET /six.asf HTTP/1.1\r\nHost: [2001:db8::2]\r\n\r\n", 80, true),
              segment("GET /radio.mp3 HTTP/1.0\r\nHost: radio:8000\r\n\r\n", 8000)});
    struct Case {
        const char* name;
        std::string arguments;
        std::string out;
        std::string feed = "";
    } cases[] = {
        {"first sighting's query", args(file),
         "http://cdn/cdn/c.wmv?sig=1&exp=2\t.wmv\tWindous Media Video\n"
         "http://[2001:db8::2]/six.asf\t.asf\tWindows Media Format\n"},
        {"every sighting's query", args(file, "--all"),
         "http://cdn/cdn/c.wmv?sig=1&exp=2\t.wmv\tWindous Media Video\n"
         "http://cdn/cdn/c.wmv?sig=3\t.wmv\tWindous Media Video\n"
         "http://[2001:db8::2]/six.asf\t.asf\tWindows Media Format\n"},
        {"added port", args(file, "--port 8000 --port 8200"),
         "http://cdn/cdn/c.wmv?sig=1&exp=2\t.wmv\tWindous Media Video\n"
         "http://[2001:db8::2]/six.asf\t.asf\tWindows Media Format\n"
         "http://radio:8000/radio.mp3\t.mp3\tMPeg2 layer 3 audio\n"},
        {"stdin redirected", args("-") + " < " + file,
         "http://cdn/cdn/c.wmv?sig=1&exp=2\t.wmv\tWindous Media Video\n"
         "http://[2001:db8::2]/six.asf\t.asf\tWindows Media Format\n"},
        {"stdin from a pipe", args("-", "--port 8000"),
         "http://cdn/cdn/c.wmv?sig=1&exp=2\t.wmv\tWindous Media Video\n"
         "http://[2001:db8::2]/six.asf\t.asf\tWindows Media Format\n"
         "http://radio:8000/radio.mp3\t.mp3\tMPeg2 layer 3 audio\n",
         "cat " + file},
    };
    for (const Case& c : cases) {
        CliRun r = run(c.arguments, c.feed.empty() ? "" : c.feed + " | ");
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_EQ(r.out, c.out) << c.name;
    }
    CliRun json = run(args(file, "--json"));
    EXPECT_NE(json.out.find("\"path\":\"/cdn/c.wmv\",\"query\":\"?sig=1&exp=2\",\"url\":\"http://"
                            "cdn/cdn/c.wmv?sig=1&exp=2\""),
              std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"srcAddr\":\"2001:db8::1\",\"dstAddr\":\"2001:db8::2\""),
              std::string::npos)
        << json.out;
}

TEST_F(DetectCommand, TruncatedFileIsAnError) {
    std::string file = pcap("cut", 101, {request("/c.flv", "S"), request("/d.flv", "S")});
    std::filesystem::resize_file(file, std::filesystem::file_size(file) - 10);
    CliRun r = run(args(file));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "http://S/c.flv\t.flv\tFlash Video\n");
}

TEST_F(DetectCommand, ReadsPcapng) {
    // A minimal pcapng: section header, interface description (raw IPv4), one enhanced packet.
    auto datagram = request("/n.asf", "S");
    std::vector<std::uint8_t> file;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    auto u16 = [&](std::uint16_t v) {
        file.push_back(static_cast<std::uint8_t>(v));
        file.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    u32(0x0A0D0D0A);
    u32(28);
    u32(0x1A2B3C4D);
    u16(1);
    u16(0);
    u32(0xFFFFFFFF);
    u32(0xFFFFFFFF);
    u32(28);
    u32(1);
    u32(20);
    u16(101);
    u16(0);
    u32(262144);
    u32(20);
    std::uint32_t padded = (static_cast<std::uint32_t>(datagram.size()) + 3) & ~3u;
    std::uint32_t blockLength = 32 + padded;
    u32(6);
    u32(blockLength);
    u32(0);
    u32(0);
    u32(0);
    u32(static_cast<std::uint32_t>(datagram.size()));
    u32(static_cast<std::uint32_t>(datagram.size()));
    file.insert(file.end(), datagram.begin(), datagram.end());
    file.resize(file.size() + (padded - datagram.size()), 0);
    u32(blockLength);
    std::string path = (dir_ / "x.pcapng").string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    CliRun r = run(args(path));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "http://S/n.asf\t.asf\tWindows Media Format\n");
}

}  // namespace

namespace {

// A request whose every field tries to break out of a copied command.
const std::string kPath = "/v/$(touch${IFS}p)`touch${IFS}b`;touch${IFS}s|x&y.asf";
const std::string kQuery = "?a=$(touch${IFS}q)&b=`id`;$HOME";
const std::string kReferer = "http://page/$(touch${IFS}r)`touch${IFS}r2`;|&$HOME";
const std::string kAgent = "Player/1 `touch u` \"q\" $HOME \\ ; & |";
const std::string kCookie = "sid=$(touch c); t=`touch d`";

std::vector<std::uint8_t> hostileRequest() {
    return test_packets::datagram(
        "GET " + kPath + kQuery + " HTTP/1.1\r\nHost: S\r\nReferer: " + kReferer +
            "\r\nUser-Agent: " + kAgent + "\r\nCookie: " + kCookie + "\r\n\r\n",
        Tcp{});
}

}  // namespace

TEST_F(DetectCommand, AsCommandsThatRunWithExactlyTheFields) {
    std::string file = pcap("hostile", 101, {hostileRequest()});
    const std::string url = "http://S" + kPath + kQuery;
    struct Case {
        const char* options;
        std::vector<std::string> argv;
    } cases[] = {
        {"--as curl",
         {"curl", "--globoff", "--location", "--referer", kReferer, "--user-agent", kAgent,
          "--remote-name", "--url", url}},
        {"--as curl --cookie-reuse",
         {"curl", "--globoff", "--referer", kReferer, "--user-agent", kAgent, "--cookie", kCookie,
          "--remote-name", "--url", url}},
        {"--as ffmpeg",
         {"ffmpeg", "-referer", kReferer, "-user_agent", kAgent, "-i", url, "-c", "copy",
          "touchIFSptouchIFSbtouchIFSsxy.asf"}},
        // yt-dlp would carry the cookie to other hosts: it never gets one.
        {"--as yt-dlp --cookie-reuse",
         {"yt-dlp", "--referer", kReferer, "--user-agent", kAgent, "--", url}},
    };
    StandInTools tools;
    ASSERT_TRUE(tools.ok());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        CliRun r = run(args(file, c.options));
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_EQ(tools.run(r.out.substr(0, r.out.size() - 1)), c.argv) << r.out;
        EXPECT_EQ(tools.leftovers(), std::vector<std::string>{});
    }
    // JSON shows the context but never the cookie, even with cookie reuse on.
    CliRun json = run(args(file, "--json --cookie-reuse"));
    EXPECT_EQ(json.out.find("sid="), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"userAgent\":\"Player/1 `touch u` \\\"q\\\" $HOME \\\\ ; & |\""),
              std::string::npos)
        << json.out;
}
