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

// One segment from the client ('c') or the server ('s'), or 'x': expire idle connections.
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

  private:
    Record& record_;
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
    if (!ipv6) {
        return test_packets::datagram(step.payload, tcp);
    }
    test_packets::Ipv6 ip;
    ip.extensions = {{0, 8}};  // hop-by-hop
    if (!fromClient) {
        std::swap(ip.srcAddr, ip.dstAddr);
    }
    return test_packets::datagram6(step.payload, tcp, ip);
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
                    return record.followed ? std::make_unique<RecordingConsumer>(record) : nullptr;
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
    EXPECT_FALSE(feed(table, unwatched));
    EXPECT_FALSE(feed(table, notTcp));
    EXPECT_TRUE(feed(table, resetOnly));
    EXPECT_EQ(table.connectionCount(), 0u);
}

}  // namespace
