// Writes large Ethernet capture files for the detect benchmark.
//   make_capture mix FILE [PACKETS]    realistic traffic: ~5 % on ports 80/1755/554 with
//                                      about 2,000 distinct media URLs, the rest bulk TCP,
//                                      UDP and bare ACKs
//   make_capture worst FILE [PACKETS [URLS]]
//                                      nearly every packet an HTTP GET of a media file, each
//                                      a distinct one, or one of URLS distinct ones in turn
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/PcapFileWriter.h"
#include "support/TestPackets.h"

namespace {

using test_packets::Tcp;

constexpr const char* kSuffixes[] = {".asf", ".wmv", ".wma", ".mp3", ".flv", ".rm"};
constexpr std::uint16_t kMediaPorts[] = {80, 80, 80, 1755, 554};

class Random {
  public:
    std::uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }

  private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
};

class Generator {
  public:
    explicit Generator(PcapFileWriter& out) : out_(out) {
        for (std::size_t i = 0; i < sizeof binary_; ++i) {
            binary_[i] = static_cast<char>(random_.next());
        }
        while (page_.size() < 1460) {
            page_ += "<li><a href=\"/news/item.html\">www.example.org</a> rev 1.2.3 - ok</li>\n";
        }
        page_.resize(1460);
    }

    void emit(const std::vector<std::uint8_t>& datagram) {
        frame_ = ethernet_;
        frame_.insert(frame_.end(), datagram.begin(), datagram.end());
        if (frame_.size() < 60) {
            frame_.resize(60, 0);  // Ethernet padding
        }
        out_.add(frame_);
    }

    Tcp flow(std::uint16_t serverPort, bool toServer) {
        Tcp tcp;
        tcp.srcAddr = 0x0A000000u | static_cast<std::uint32_t>(random_.below(250) + 2);
        tcp.dstAddr = 0xC6336400u | static_cast<std::uint32_t>(random_.below(250) + 2);
        std::uint16_t client = static_cast<std::uint16_t>(32768 + random_.below(28000));
        tcp.srcPort = toServer ? client : serverPort;
        tcp.dstPort = toServer ? serverPort : client;
        tcp.seq = static_cast<std::uint32_t>(random_.next());
        tcp.ack = static_cast<std::uint32_t>(random_.next());
        return tcp;
    }

    std::string mediaRequest(std::size_t url, std::uint16_t port) {
        std::string path = "/media/clips/" + std::to_string(1000000 + url) +
                           kSuffixes[url % (sizeof kSuffixes / sizeof *kSuffixes)];
        std::string host = "cdn" + std::to_string(url % 23) + ".example.net";
        if (port == 554) {
            return "DESCRIBE rtsp://" + host + path + " RTSP/1.0\r\nCSeq: 2\r\n\r\n";
        }
        return "GET " + path + " HTTP/1.1\r\nHost: " + host +
               "\r\nUser-Agent: NSPlayer/9.0\r\nAccept: */*\r\n\r\n";
    }

    void mediaGet(std::size_t url) {
        std::uint16_t port = kMediaPorts[url % (sizeof kMediaPorts / sizeof *kMediaPorts)];
        emit(test_packets::datagram(mediaRequest(url, port), flow(port, true)));
    }

    void otherGet() {
        std::string request = "GET /static/app" + std::to_string(random_.below(500)) +
                              ".js HTTP/1.1\r\nHost: www.example.org\r\nAccept: */*\r\n\r\n";
        emit(test_packets::datagram(request, flow(80, true)));
    }
    void pageSegment() { emit(test_packets::datagram(page_, flow(80, false))); }
    void mediaAck() {
        emit(test_packets::datagram("", flow(kMediaPorts[random_.below(5)], false)));
    }
    void bulkTcp() {
        emit(test_packets::datagram(std::string_view(binary_ + random_.below(64), 1460),
                                    flow(443, false)));
    }
    void ack() { emit(test_packets::datagram("", flow(443, true))); }
    void udp() {
        Tcp u = flow(443, true);
        u.protocol = 17;
        emit(test_packets::datagram(std::string_view(binary_, 1200), u));
    }

    Random& random() { return random_; }

  private:
    PcapFileWriter& out_;
    Random random_;
    std::vector<std::uint8_t> ethernet_ = test_packets::ethernetHeader();
    std::vector<std::uint8_t> frame_;
    char binary_[1600];
    std::string page_;
};

void writeMix(Generator& g, std::size_t packets) {
    constexpr std::size_t kDistinctUrls = 2000;
    for (std::size_t i = 0; i < packets; ++i) {
        std::size_t roll = g.random().below(1000);
        if (roll < 20) {  // 2.0 %: media requests, 2,000 URLs seen about ten times each
            g.mediaGet(g.random().below(kDistinctUrls));
        } else if (roll < 30) {
            g.otherGet();
        } else if (roll < 45) {
            g.pageSegment();
        } else if (roll < 50) {
            g.mediaAck();
        } else if (roll < 650) {
            g.bulkTcp();
        } else if (roll < 900) {
            g.ack();
        } else {
            g.udp();
        }
    }
}

void writeWorst(Generator& g, std::size_t packets, std::size_t urls) {
    for (std::size_t i = 0; i < packets; ++i) {
        if (i % 100 == 99) {
            g.ack();
        } else {
            g.mediaGet(urls == 0 ? i : i % urls);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3 || (std::strcmp(argv[1], "mix") != 0 && std::strcmp(argv[1], "worst") != 0)) {
        std::fprintf(stderr, "usage: make_capture mix|worst FILE [PACKETS [URLS]]\n");
        return 2;
    }
    std::size_t packets = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1000000;
    PcapFileWriter writer(argv[2], 1);
    if (!writer.ok()) {
        std::perror(argv[2]);
        return 2;
    }
    Generator generator(writer);
    if (std::strcmp(argv[1], "mix") == 0) {
        writeMix(generator, packets);
    } else {
        writeWorst(generator, packets, argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 0);
    }
    if (!writer.close()) {
        std::perror(argv[2]);
        return 2;
    }
    return 0;
}
