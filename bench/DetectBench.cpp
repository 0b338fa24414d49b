// Cost of decoding one packet, and of the stream store per detection.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "core/detect/StreamDecoder.h"
#include "core/store/StreamStore.h"
#include "support/TestPackets.h"

namespace {

using test_packets::Tcp;

const std::string kRequest =
    "GET /media/clips/0001234.wmv HTTP/1.1\r\nHost: cdn7.example.net\r\n"
    "User-Agent: NSPlayer/9.0.0.2980\r\nAccept: */*\r\nConnection: Keep-Alive\r\n\r\n";

// An HTML page segment: text with many dots and no target suffix.
std::string pageSegment() {
    std::string text = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<html><body>";
    while (text.size() < 1400) {
        text += "<p><a href=\"http://www.example.com/a/b.html\">www.example.com</a> v1.2.3</p>\n";
    }
    text.resize(1400);
    return text;
}

void decodeLoop(benchmark::State& state, const std::vector<std::uint8_t>& datagram) {
    StreamDecoder decoder;
    decoder.setSuffixTable(SuffixTable::withKnownSuffixes());
    CapturedPacket packet = test_packets::packet(datagram);
    DetectedStream record;
    for (auto _ : state) {
        benchmark::DoNotOptimize(decoder.decode(packet, record));
        benchmark::ClobberMemory();
    }
}

void BM_DecodeOtherPort(benchmark::State& state) {
    Tcp tcp;
    tcp.srcPort = 443;
    tcp.dstPort = 51000;
    decodeLoop(state, test_packets::datagram(std::string(1400, 'x'), tcp));
}
BENCHMARK(BM_DecodeOtherPort);

void BM_DecodePort80NoSuffix(benchmark::State& state) {
    Tcp tcp;
    tcp.srcPort = 80;
    tcp.dstPort = 51000;
    decodeLoop(state, test_packets::datagram(pageSegment(), tcp));
}
BENCHMARK(BM_DecodePort80NoSuffix);

void BM_DecodeDetectedRequest(benchmark::State& state) {
    decodeLoop(state, test_packets::datagram(kRequest));
}
BENCHMARK(BM_DecodeDetectedRequest);

// Detections of `count` distinct URLs. Only the paths are kept per URL; each detection is
// copied into one record that stays hot, as the decoder's record does.
class Detections {
  public:
    explicit Detections(std::size_t count) : paths_(count) {
        std::memset(&record_, 0, sizeof record_);
        std::strcpy(record_.scheme, "http");
        std::strcpy(record_.suffix, ".wmv");
        std::strcpy(record_.typeName, "Windous Media Video");
        record_.dstPort = 80;
        for (std::size_t i = 0; i < kHosts; ++i) {
            std::snprintf(hosts_[i].text, sizeof hosts_[i].text, "http://cdn%zu.example.net", i);
        }
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(paths_[i].text, sizeof paths_[i].text, "/media/clips/%07u.wmv",
                          static_cast<unsigned>(i % 10000000));
        }
    }
    std::size_t size() const { return paths_.size(); }
    const DetectedStream& at(std::size_t i) {
        std::memcpy(record_.host, hosts_[i % kHosts].text, sizeof hosts_[i % kHosts].text);
        std::memcpy(record_.path, paths_[i].text, sizeof paths_[i].text);
        return record_;
    }

  private:
    static constexpr std::size_t kHosts = 17;
    struct Path {
        char text[32];
    };
    std::vector<Path> paths_;
    Path hosts_[kHosts];
    DetectedStream record_;
};

// Every detection is of a new URL: the rows grow to `range(0)`.
void BM_StoreAddNew(benchmark::State& state) {
    Detections detections(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<StreamStore>();
        state.ResumeTiming();
        for (std::size_t i = 0; i < detections.size(); ++i) {
            benchmark::DoNotOptimize(store->add(detections.at(i)));
        }
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * detections.size()));
}
BENCHMARK(BM_StoreAddNew)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// The same with the index entry of the next detection prefetched before each add, as the
// detect command overlaps it with making the output line.
void BM_StoreAddNewPrefetched(benchmark::State& state) {
    Detections detections(static_cast<std::size_t>(state.range(0)));
    Detections ahead(static_cast<std::size_t>(state.range(0)) + 1);
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<StreamStore>();
        state.ResumeTiming();
        for (std::size_t i = 0; i < detections.size(); ++i) {
            store->prefetch(ahead.at(i + 1));
            benchmark::DoNotOptimize(store->add(detections.at(i)));
        }
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * detections.size()));
}
BENCHMARK(BM_StoreAddNewPrefetched)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Repeats of `range(0)` known URLs, in a scattered order.
void BM_StoreAddRepeat(benchmark::State& state) {
    Detections detections(static_cast<std::size_t>(state.range(0)));
    StreamStore store;
    for (std::size_t i = 0; i < detections.size(); ++i) {
        store.add(detections.at(i));
    }
    std::size_t i = 0;
    for (auto _ : state) {
        i = (i + 7919) % detections.size();
        benchmark::DoNotOptimize(store.add(detections.at(i)));
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_StoreAddRepeat)->Arg(10000)->Arg(1000000);

// The cost of preparing one detection in the benchmarks above, to subtract.
void BM_DetectionCopyOnly(benchmark::State& state) {
    Detections detections(10000);
    std::size_t i = 0;
    for (auto _ : state) {
        i = (i + 7919) % detections.size();
        benchmark::DoNotOptimize(&detections.at(i));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DetectionCopyOnly);

}  // namespace
