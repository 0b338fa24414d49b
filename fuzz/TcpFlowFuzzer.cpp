// Feeds datagrams cut from the input into a flow table with small limits: segments of a few
// connections built from the input's numbers (so that sequence numbers meet, overlap and wrap),
// some cut short by the capture, and raw datagrams as captured. Checks the table's bounds, that
// every consumer ends once, and that a direction given up after a loss delivers nothing more.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/flow/TcpFlowTable.h"

namespace {

constexpr TcpFlowTable::Limits kLimits{512, 2048, 4, 1000};
constexpr std::uint16_t kServerPort = 443;

int liveConsumers = 0;

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

class CheckingConsumer : public FlowConsumer {
  public:
    explicit CheckingConsumer(bool keepsOther) : keepsOther_(keepsOther) { ++liveConsumers; }
    ~CheckingConsumer() override {
        check(ended_);
        --liveConsumers;
    }

    bool onBytes(FlowDirection direction, std::span<const std::uint8_t> bytes,
                 const std::uint8_t* datagram, std::uint32_t length) override {
        check(!ended_ && !endsWithGap_ && !closed_[static_cast<int>(direction)]);
        check(!bytes.empty() && datagram != nullptr && length > 0);
        // Touch every byte, so that the sanitizer sees a view past its buffer.
        std::uint8_t sum = 0;
        for (std::uint8_t b : bytes) {
            sum = static_cast<std::uint8_t>(sum + b);
        }
        return sum != 0xEE;  // now and then the consumer gives up
    }

    bool onGap(FlowDirection direction) override {
        const int lost = static_cast<int>(direction);
        check(!ended_ && !endsWithGap_ && !closed_[lost]);
        // With nothing left to deliver, the table ends the connection whatever the answer.
        endsWithGap_ = !keepsOther_ || closed_[1 - lost];
        closed_[lost] = true;
        return keepsOther_;
    }

    void onEnd(FlowEnd why) override {
        check(!ended_ && (!endsWithGap_ || why == FlowEnd::Gap));
        ended_ = true;
    }

  private:
    bool keepsOther_;
    bool ended_ = false;
    bool endsWithGap_ = false;
    bool closed_[2] = {false, false};
};

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() << 8 | byte()); }

    std::vector<std::uint8_t> take(std::size_t n) {
        n = std::min(n, size_ - std::min(at_, size_));
        std::vector<std::uint8_t> bytes(data_ + at_, data_ + at_ + n);
        at_ += n;
        return bytes;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void putBe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void putBe32(std::uint8_t* p, std::uint32_t v) {
    putBe16(p, v >> 16);
    putBe16(p + 2, v);
}

struct Segment {
    bool ipv6;
    bool fromServer;
    std::uint16_t clientPort;
    std::uint32_t seq;
    std::uint32_t ack;
    std::uint8_t flags;
    std::vector<std::uint8_t> payload;
    std::uint8_t cut;  // payload bytes the IP header counts but the capture lacks
};

std::vector<std::uint8_t> datagramOf(const Segment& s) {
    const std::size_t ipLength = s.ipv6 ? 40 : 20;
    std::vector<std::uint8_t> d(ipLength + 20 + s.payload.size(), 0);
    const auto declared = static_cast<std::uint32_t>(d.size() + s.cut);
    std::uint8_t* src = d.data() + (s.ipv6 ? 8 : 12);
    std::uint8_t* dst = d.data() + (s.ipv6 ? 24 : 16);
    if (s.ipv6) {
        d[0] = 0x60;
        putBe16(&d[4], declared - 40);
        d[6] = 6;
        src[15] = 1;
        dst[15] = 2;
    } else {
        d[0] = 0x45;
        putBe16(&d[2], declared);
        d[9] = 6;
        putBe32(src, 0x0A000001);
        putBe32(dst, 0x0A000002);
    }
    if (s.fromServer) {
        std::swap_ranges(src, src + (s.ipv6 ? 16 : 4), dst);
    }
    std::uint8_t* t = d.data() + ipLength;
    putBe16(t, s.fromServer ? kServerPort : s.clientPort);
    putBe16(t + 2, s.fromServer ? s.clientPort : kServerPort);
    putBe32(t + 4, s.seq);
    putBe32(t + 8, s.ack);
    t[12] = 0x50;
    t[13] = s.flags;
    std::copy(s.payload.begin(), s.payload.end(), t + 20);
    return d;
}

// Sequence numbers of each connection's two directions start near the wrap.
std::uint32_t baseSeq(unsigned flow, bool server) {
    return (server ? 0x7FFFFF00u : 0xFFFFFF00u) + flow * 0x1000u;
}

Segment segmentFrom(std::uint8_t op, Input& in) {
    Segment s;
    const unsigned flow = op & 3;
    s.fromServer = (op & 4) != 0;
    s.ipv6 = (op & 8) != 0;
    s.clientPort = static_cast<std::uint16_t>(40000 + flow);
    s.flags = in.byte();
    s.seq = baseSeq(flow, s.fromServer) + static_cast<std::int16_t>(in.u16());
    s.ack = baseSeq(flow, !s.fromServer) + static_cast<std::int16_t>(in.u16());
    const std::uint8_t sizing = in.byte();
    s.payload = in.take(sizing % 96);
    s.cut = sizing >= 0xE0 ? in.byte() : 0;
    return s;
}

void feed(TcpFlowTable& table, const std::vector<std::uint8_t>& datagram, std::uint64_t now) {
    // On the heap with its exact size, so that a read past it trips the sanitizer.
    auto exact = std::make_unique<std::uint8_t[]>(datagram.size());
    std::memcpy(exact.get(), datagram.data(), datagram.size());
    table.onDatagram(exact.get(), static_cast<std::uint32_t>(datagram.size()), now);
    check(table.bytesHeld() <= kLimits.heldTotal);
    check(table.connectionCount() <= kLimits.connections);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    std::uint64_t now = 0;
    {
        TcpFlowTable table(
            kLimits, [](std::uint16_t port) { return port == kServerPort || port == 8443; },
            [](const FlowInfo& info) -> std::unique_ptr<FlowConsumer> {
                // One port is declined, to cover connections that are not followed; on even
                // ones the consumer keeps the other direction after a loss.
                if (info.clientPort == 40003) {
                    return nullptr;
                }
                return std::make_unique<CheckingConsumer>(info.clientPort % 2 == 0);
            });
        for (int records = 0; !in.empty() && records < 4096; ++records) {
            const std::uint8_t op = in.byte();
            now += (op & 0x30) * 16u;
            if ((op & 0xC0) == 0xC0) {
                table.expireIdle(now);
            } else if (op & 0x80) {
                feed(table, in.take(in.byte() * 4u), now);
            } else {
                feed(table, datagramOf(segmentFrom(op, in)), now);
            }
        }
    }
    check(liveConsumers == 0);
    return 0;
}
