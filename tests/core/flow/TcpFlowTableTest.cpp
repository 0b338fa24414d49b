#include "core/flow/TcpFlowTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "support/TestPackets.h"

namespace {

constexpr std::uint8_t F = 0x01, S = 0x02, R = 0x04, A = 0x10;
constexpr std::uint16_t kServerPort = 443;
constexpr std::uint16_t kDeclinedPort = 40009;  // the factory follows no connection from it

// One segment from the client ('c') or the server ('s'), or 'x': expire idle connections. A
// payload's trailing '~' are bytes the capture cut off.
struct Step {
    char from;
    std::uint32_t seq = 0;
    std::uint32_t ack = 0;
    std::uint8_t flags = A;
    std::string_view payload = {};
    std::uint16_t clientPort = 40000;
    std::uint64_t at = 0;  // microseconds
};

// Client ISN 1000 (first byte 1001), server ISN 5000 (first byte 5001).
std::vector<Step> handshake(std::vector<Step> rest, std::uint16_t port = 40000) {
    std::vector<Step> steps = {{'c', 1000, 0, S, {}, port},
                               {'s', 5000, 1001, S | A, {}, port},
                               {'c', 1001, 5001, A, {}, port}};
    steps.insert(steps.end(), rest.begin(), rest.end());
    return steps;
}

TcpFlowTable::Limits limits(std::size_t held = 1 << 20, std::size_t total = 1 << 20,
                            std::size_t connections = 16, std::uint64_t idle = 100) {
    return {held, total, connections, idle};
}

struct Case {
    const char* name;
    std::vector<Step> steps;
    // Per connection asked for, in order: "to server|to client|end", or "declined".
    std::vector<std::string> connections;
    TcpFlowTable::Limits limits = ::limits();
    bool ipv6 = false;
    bool keepsOther = false;  // the consumer keeps the other direction after a loss
};

const Case kCases[] = {
    {"InOrder",
     handshake({{'c', 1001, 5001, A, "GET "},
                {'c', 1005, 5001, A, "/x"},
                {'s', 5001, 1007, A, "OK"},
                {'c', 1007, 5003, F | A},
                {'s', 5003, 1008, F | A},
                {'c', 1008, 5004, A}}),
     {"GET /x|OK|Closed"}},
    {"Reordered",
     handshake({{'c', 1006, 5001, A, "world"}, {'c', 1001, 5001, A, "hello"}}),
     {"helloworld||Shutdown"}},
    {"Retransmitted",
     handshake({{'c', 1001, 5001, A, "hello"},
                {'c', 1001, 5001, A, "hello"},
                {'c', 1006, 5001, A, "world"},
                {'c', 1001, 5001, A, "helloworld"}}),
     {"helloworld||Shutdown"}},
    {"PartialOverlap",
     handshake({{'c', 1001, 5001, A, "hello"}, {'c', 1004, 5001, A, "LOWORLD"}}),
     {"helloWORLD||Shutdown"}},
    {"FirstHeldCopyWins",
     handshake({{'c', 1006, 5001, A, "world"}, {'c', 1001, 5001, A, "HELLOWORLD!"}}),
     {"HELLOworld!||Shutdown"}},
    {"HeldPiecesOverlap",
     handshake({{'c', 1009, 5001, A, "ld"},
                {'c', 1006, 5001, A, "WORLD"},
                {'c', 1001, 5001, A, "hello"}}),
     {"helloWORld||Shutdown"}},
    {"SequenceWraps",
     {{'c', 0xFFFFFFFC, 0, S},
      {'s', 5000, 0xFFFFFFFD, S | A},
      {'c', 1, 5001, A, "efgh"},
      {'c', 0xFFFFFFFD, 5001, A, "abcd"},
      {'s', 5001, 5, A}},
     {"abcdefgh||Shutdown"}},
    {"LostSegmentAcked",
     handshake(
         {{'c', 1001, 5001, A, "hello"}, {'c', 1011, 5001, A, "world"}, {'s', 5001, 1016, A}}),
     {"hello||Gap"}},
    {"AckUpToTheHole",
     handshake(
         {{'c', 1001, 5001, A, "hello"}, {'c', 1011, 5001, A, "world"}, {'s', 5001, 1006, A}}),
     {"hello||Shutdown"}},
    {"UnseenBytesAcked",
     handshake({{'c', 1001, 5001, A, "hello"}, {'s', 5001, 1010, A}}),
     {"hello||Gap"}},
    {"Reset", handshake({{'c', 1001, 5001, A, "hi"}, {'s', 5001, 1003, R | A}}), {"hi||Closed"}},
    {"ResetWithBytesHeld",
     handshake({{'c', 1001, 5001, A, "hi"}, {'c', 1010, 5001, A, "later"}, {'s', 5001, 0, R}}),
     {"hi||Gap"}},
    {"FinAfterAHole",
     handshake({{'c', 1001, 5001, A, "hi"}, {'c', 1005, 5001, F | A}}),
     {"hi||Gap"}},
    {"FinOneWayAcked",
     handshake({{'c', 1001, 5001, A, "hi"},
                {'c', 1003, 5001, F | A},
                {'s', 5001, 1004, A},
                {'c', 1004, 5001, A, "after the FIN"}}),
     {"hi||Shutdown"}},
    {"HeldBoundPerConnection",
     handshake({{'c', 1011, 5001, A, "aaaaa"},
                {'c', 1021, 5001, A, "bbbbb"},
                {'c', 1031, 5001, A, "ccccc"}}),
     {"||HeldTooMuch"},
     limits(2 * (HeldSegments::kPieceCharge + 5))},
    {"HeldBoundInAll",
     {{'c', 1000, 0, S, {}, 40001},
      {'c', 1011, 0, A, "aaaaa", 40001},
      {'c', 1000, 0, S, {}, 40002},
      {'c', 1011, 0, A, "bbbbb", 40002}},
     {"||Shutdown", "||HeldTooMuch"},
     limits(1 << 20, HeldSegments::kPieceCharge + 5)},
    {"TableFull",
     {{'c', 1000, 0, S, {}, 40001},
      {'c', 1000, 0, S, {}, 40002},
      {'c', 1001, 0, A, "a", 40001},
      {'c', 1000, 0, S, {}, 40003},
      {'c', 1001, 0, A, "c", 40003}},
     {"a||Shutdown", "||TableFull", "c||Shutdown"},
     limits(1 << 20, 1 << 20, 2)},
    {"Idle",
     {{'c', 1001, 0, A, "a", 40001, 0},
      {'c', 1001, 0, A, "b", 40002, 150},
      {'x', 0, 0, 0, {}, 0, 251},
      {'c', 1002, 0, A, "c", 40002, 252}},
     {"a||Idle", "b||Idle", "c||Shutdown"}},
    {"MidStreamPickup",
     {{'c', 777777, 99, A, "abc"}, {'s', 99, 777780, A, "xy"}, {'c', 777780, 101, A, "def"}},
     {"abcdef|xy|Shutdown"}},
    {"MidStreamServerFirst", {{'s', 99, 777, A, "xy"}, {'c', 777, 101, A, "q"}}, {"q|xy|Shutdown"}},
    {"SynAckFirst",
     {{'s', 5000, 1001, S | A}, {'c', 1006, 5001, A, "world"}, {'c', 1001, 5001, A, "hello"}},
     {"helloworld||Shutdown"}},
    {"NewSynAfterClose",
     handshake({{'c', 1001, 5001, F | A, "bye"},
                {'s', 5001, 1005, F | A},
                {'c', 1005, 5002, A},
                {'c', 9000, 0, S},
                {'c', 9001, 0, A, "again"}}),
     {"bye||Closed", "again||Shutdown"}},
    {"NewSynEndsTheOldConnection",
     handshake({{'c', 1001, 5001, A, "old"}, {'c', 9000, 0, S}, {'c', 9001, 0, A, "new"}}),
     {"old||Closed", "new||Shutdown"}},
    {"RepeatedSyn", handshake({{'c', 1000, 0, S}, {'c', 1001, 5001, A, "x"}}), {"x||Shutdown"}},
    {"GivenUp",
     handshake({{'c', 1001, 5001, A, "ab#"}, {'c', 1004, 5001, A, "cd"}}),
     {"ab#||GivenUp"}},
    {"GivenUpWhileReleasing",
     handshake(
         {{'c', 1003, 5001, A, "#cd"}, {'c', 1001, 5001, A, "ab"}, {'c', 1006, 5001, A, "e"}}),
     {"ab#cd||GivenUp"}},
    {"NothingAfterAGap",
     handshake({{'c', 1001, 5001, A, "hi"}, {'s', 5001, 1009, A}, {'c', 1009, 5001, A, "more"}}),
     {"hi||Gap"}},
    {"Declined",
     handshake({{'c', 1001, 5001, A, "x", kDeclinedPort},
                {'c', 1000, 0, S, {}, kDeclinedPort},
                {'c', 7000, 0, S, {}, kDeclinedPort}},
               kDeclinedPort),
     {"declined", "declined"}},
    {"Ipv6",
     handshake({{'c', 1001, 5001, A, "GET"}, {'s', 5001, 1004, A, "OK"}, {'c', 1004, 5003, R}}),
     {"GET|OK|Closed"},
     limits(),
     true},
    // A '~' in what a consumer got marks where it was told its direction lost bytes.
    {.name = "ServerLossKept",
     .steps = handshake({{'s', 5001, 1001, A, "OK"},
                         {'s', 5010, 1001, A, "late"},
                         {'c', 1001, 5014, A, "GET /b"},
                         {'c', 1008, 5014, A, "/c"},  // held where the server's were
                         {'c', 1007, 5014, A, "x"},
                         {'s', 5003, 1010, A, "the missing"},  // too late: not delivered
                         {'c', 1010, 5018, F | A},
                         {'s', 5018, 1011, F | A}}),
     .connections = {"GET /bx/c|OK~|Closed"},
     .limits = limits(HeldSegments::kPieceCharge + 4),
     .keepsOther = true},
    {.name = "TruncatedServerSegmentKeptThenClientLoss",
     .steps = handshake({{'c', 1001, 5001, A, "hi"},
                         {'s', 5001, 1003, A, "OK~~"},
                         {'c', 1003, 5005, A, "more"},
                         {'s', 5005, 1020, A},
                         {'c', 1007, 5005, A, "after"}}),
     .connections = {"himore~|OK~|Gap"},
     .keepsOther = true},
    {.name = "FinAfterAHoleKeptThenResetBeyondIt",
     .steps = handshake({{'c', 1001, 5001, A, "hi"},
                         {'c', 1005, 5001, F | A},
                         {'s', 5001, 1006, A, "OK"},
                         {'c', 1010, 5003, R}}),
     .connections = {"hi~|OK|Closed"},
     .keepsOther = true},
    {"TruncatedSegmentEndsByDefault",
     handshake({{'s', 5001, 1001, A, "OK~~"}, {'c', 1001, 5005, A, "x"}}),
     {"|OK|Gap"}},
    {"TruncatedRepeatsOfDeliveredAndHeldBytes",
     handshake({{'s', 5001, 1001, A, "OKAY"},
                {'s', 5008, 1001, A, "world"},
                {'s', 5001, 1001, A, "O~"},
                {'s', 5008, 1001, A, "wo~~~"},
                {'s', 5005, 1001, A, "123"}}),
     {"|OKAY123world|Shutdown"}},
};

const char* endName(FlowEnd why) {
    constexpr const char* kNames[] = {"Closed",    "Idle",    "Gap",     "HeldTooMuch",
                                      "TableFull", "GivenUp", "Shutdown"};
    return kNames[static_cast<int>(why)];
}

struct Record {
    bool followed = false;
    std::string bytes[2];
    std::string end;
    int ends = 0;
};

// Keeps what it is given; gives up at a '#'.
class RecordingConsumer : public FlowConsumer {
  public:
    explicit RecordingConsumer(Record& record) : record_(record) {}

    bool onBytes(FlowDirection direction, std::span<const std::uint8_t> bytes,
                 const std::uint8_t* datagram, std::uint32_t length) override {
        EXPECT_EQ(record_.ends, 0) << "bytes after the end";
        EXPECT_TRUE(TcpSegmentView::parse(datagram, length)) << "not the arriving datagram";
        std::string& into = record_.bytes[static_cast<int>(direction)];
        into.append(bytes.begin(), bytes.end());
        return into.find('#') == std::string::npos;
    }

    void onEnd(FlowEnd why) override {
        ++record_.ends;
        record_.end = endName(why);
    }

  protected:
    Record& record_;
};

// Goes on with the other direction after a loss, marking the loss with a '~'.
class KeepingConsumer : public RecordingConsumer {
  public:
    using RecordingConsumer::RecordingConsumer;

    bool onGap(FlowDirection direction) override {
        record_.bytes[static_cast<int>(direction)] += '~';
        return true;
    }
};

std::vector<std::uint8_t> datagramOf(const Step& step, bool ipv6) {
    const bool fromClient = step.from == 'c';
    test_packets::Tcp tcp;
    tcp.srcPort = fromClient ? step.clientPort : kServerPort;
    tcp.dstPort = fromClient ? kServerPort : step.clientPort;
    tcp.seq = step.seq;
    tcp.ack = step.ack;
    tcp.tcpFlags = step.flags;
    if (!fromClient) {
        std::swap(tcp.srcAddr, tcp.dstAddr);
    }
    test_packets::Ipv6 ip;
    ip.extensions = {{0, 8}};  // hop-by-hop
    if (!fromClient) {
        std::swap(ip.srcAddr, ip.dstAddr);
    }
    std::vector<std::uint8_t> d = ipv6 ? test_packets::datagram6(step.payload, tcp, ip)
                                       : test_packets::datagram(step.payload, tcp);
    const std::size_t captured = step.payload.find_last_not_of('~') + 1;
    d.resize(d.size() - (step.payload.size() - captured));
    return d;
}

bool feed(TcpFlowTable& table, const std::vector<std::uint8_t>& d, std::uint64_t at = 0) {
    return table.onDatagram(d.data(), static_cast<std::uint32_t>(d.size()), at);
}

std::string outcome(const Record& r) {
    return r.followed ? r.bytes[0] + "|" + r.bytes[1] + "|" + r.end : "declined";
}

TEST(TcpFlowTableTest, FollowsScriptedConnections) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        std::deque<Record> records;
        std::vector<std::string> outcomes;
        {
            TcpFlowTable table(
                c.limits, [](std::uint16_t port) { return port == kServerPort; },
                [&](const FlowInfo& info) -> std::unique_ptr<FlowConsumer> {
                    EXPECT_EQ(info.serverPort, kServerPort);
                    EXPECT_EQ(info.ipv6, c.ipv6);
                    Record& record = records.emplace_back();
                    record.followed = info.clientPort != kDeclinedPort;
                    if (!record.followed) {
                        return nullptr;
                    }
                    return c.keepsOther ? std::make_unique<KeepingConsumer>(record)
                                        : std::make_unique<RecordingConsumer>(record);
                });
            for (const Step& step : c.steps) {
                if (step.from == 'x') {
                    table.expireIdle(step.at);
                    continue;
                }
                EXPECT_TRUE(feed(table, datagramOf(step, c.ipv6), step.at));
            }
            // The counters agree with the ends the consumers saw.
            const TcpFlowTable::Counters n = table.counters();
            const std::uint64_t counted[] = {n.closed,      n.idle,      n.gap,
                                             n.heldTooMuch, n.tableFull, n.givenUp};
            for (int why = 0; why < 6; ++why) {
                EXPECT_EQ(counted[why],
                          std::count_if(
                              records.begin(), records.end(),
                              [&](auto& r) { return r.end == endName(static_cast<FlowEnd>(why)); }))
                    << endName(static_cast<FlowEnd>(why));
            }
            EXPECT_EQ(n.followed, std::count_if(records.begin(), records.end(),
                                                [](auto& r) { return r.followed; }));
            // A connection goes on after its first loss only.
            const auto kept = std::count_if(records.begin(), records.end(), [](auto& r) {
                return (r.bytes[0] + r.bytes[1]).find('~') != std::string::npos;
            });
            EXPECT_EQ(n.directionGaps, static_cast<std::uint64_t>(kept));
            table.endAll();
            EXPECT_EQ(table.connectionCount(), 0u);
            EXPECT_EQ(table.bytesHeld(), 0u);
        }
        for (const Record& r : records) {
            EXPECT_EQ(r.ends, r.followed ? 1 : 0);
            outcomes.push_back(outcome(r));
        }
        EXPECT_EQ(outcomes, c.connections);
    }
}

TEST(TcpFlowTableTest, PassesOverWhatItDoesNotFollow) {
    TcpFlowTable table(
        {}, [](std::uint16_t port) { return port == kServerPort; },
        [](const FlowInfo&) -> std::unique_ptr<FlowConsumer> {
            ADD_FAILURE() << "nothing is to be followed";
            return nullptr;
        });
    test_packets::Tcp tcp;
    tcp.dstPort = 80;
    const auto unwatched = test_packets::datagram("x", tcp);
    tcp.dstPort = kServerPort;
    tcp.protocol = 17;
    const auto notTcp = test_packets::datagram("x", tcp);
    const auto resetOnly = datagramOf({'c', 1, 0, R}, false);
    const auto midway = datagramOf({'c', 1, 0, A, "no hello"}, false);
    EXPECT_FALSE(feed(table, unwatched));
    EXPECT_FALSE(feed(table, notTcp));
    EXPECT_TRUE(feed(table, resetOnly));
    // A connection under way whose first segment the owner refuses takes no entry.
    table.setMidwayStart([](const TcpSegmentView& segment) { return segment.payloadLength == 0; });
    EXPECT_TRUE(feed(table, midway));
    EXPECT_EQ(table.connectionCount(), 0u);
    EXPECT_EQ(table.counters().followed, 0u);
}

}  // namespace
