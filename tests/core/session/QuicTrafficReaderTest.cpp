#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "QuicExchange.h"
#include "core/detect/SuffixListFile.h"
#include "core/session/SecureTrafficReader.h"
#include "support/TestPackets.h"

namespace {

// A recorded HTTP/3 conversation read as captured datagrams on port 443, with and without its
// key log: the request is an https row of version 3, or the connection counts as unread.
TEST(QuicTrafficReader, Http3RequestsAreRowsOfVersion3) {
    QuicExchangeOptions options;
    options.body = std::string(30000, 'v');
    QuicExchange exchange;
    runQuicExchange(options, exchange);
    ASSERT_TRUE(exchange.completed);
    StreamDecoder decoder;
    decoder.setSuffixTable(SuffixListFile::parse(".bin\n"));
    for (bool withKeys : {true, false}) {
        SCOPED_TRACE(withKeys ? "with keys" : "without keys");
        auto keys = std::make_shared<KeyLog>();
        if (withKeys) {
            keys->addText(exchange.keyLog);
        }
        std::vector<std::string> rows;
        SecureTrafficReader reader(
            decoder, keys, TlsPorts{},
            [&rows](const StreamFields& f) {
                rows.push_back(std::string(f.host) + std::string(f.path) + " " +
                               std::string(f.httpVersion));
            },
            SecureTrafficReader::Waiting{});
        for (const QuicExchange::Datagram& d : exchange.datagrams) {
            test_packets::Tcp ports;
            ports.srcPort = d.fromClient ? 40000 : 443;
            ports.dstPort = d.fromClient ? 443 : 40000;
            if (!d.fromClient) {
                std::swap(ports.srcAddr, ports.dstAddr);
            }
            const std::vector<std::uint8_t> datagram = test_packets::udpDatagram(d.bytes, ports);
            EXPECT_TRUE(
                reader.read(datagram.data(), static_cast<std::uint32_t>(datagram.size()), 0));
        }
        reader.finish();
        const std::vector<std::string> expected = {"https://127.0.0.1/clip.bin 3"};
        EXPECT_EQ(rows, withKeys ? expected : std::vector<std::string>{});
        EXPECT_EQ(reader.summary().withoutKeysCount(), withKeys ? 0u : 1u);
    }
}

}  // namespace
