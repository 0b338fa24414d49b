#include "core/download/mms/CMmsClient.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "AsfFixture.h"
#include "MmsExpectedCommands.h"
#include "MmsTestServer.h"
#include "support/CaseName.h"

namespace {

using namespace mms_expected;

int ConnectLoopback(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

Bytes FileBytes(std::FILE* file) {
    std::rewind(file);
    Bytes out;
    std::uint8_t buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        out.insert(out.end(), buffer, buffer + got);
    }
    return out;
}

// One client session against a scripted server: the exchange, then packets to the end.
struct Session {
    explicit Session(MmsTestServer::Script script) : server(std::move(script)) {
        socket = ConnectLoopback(server.port());
        file = std::tmpfile();
        client = std::make_unique<CMmsClient>(socket, fileno(file));
    }
    ~Session() {
        client.reset();
        ::close(socket);
        std::fclose(file);
    }

    // Runs the transfer loop; returns the first negative result, and counts the data.
    int ReadToEnd(std::uint32_t packetSize) {
        for (int guard = 0; guard < 100000; ++guard) {
            int result = client->ReadPacket(packetSize);
            if (result < 0) {
                client->Flush();
                return result;
            }
            if (result > 0) {
                ++dataPackets;
                bytes += static_cast<std::uint64_t>(result);
            }
        }
        return 0;
    }

    // Closes our side so that the server's recording ends, then returns it.
    std::vector<Bytes> Commands() {
        ::shutdown(socket, SHUT_RDWR);
        return server.Commands();
    }

    MmsTestServer server;
    int socket = -1;
    std::FILE* file = nullptr;
    std::unique_ptr<CMmsClient> client;
    int dataPackets = 0;
    std::uint64_t bytes = 0;
};

AsfFixture MakeFixture(std::vector<std::uint16_t> flags = {0x0001, 0x0002}) {
    AsfFixture fixture;
    fixture.streamFlags = std::move(flags);
    fixture.Build();
    return fixture;
}

void ExpectCommands(const std::vector<Bytes>& got, const std::vector<Command>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i], Expected(want[i], static_cast<std::uint32_t>(i)))
            << "command packet " << i << " (id " << want[i].id << ")";
    }
}

TEST(MmsCommandPacket, EdgeLayoutsFromTheTable) {
    // Empty body: 48 bytes, 32 at offset 8, 4 at 16, 2 at 32; a pong has 0x0003001B.
    Bytes pong = Expected(PongCommand(), 7);
    ASSERT_EQ(pong.size(), 48u);
    EXPECT_EQ(pong[8], 32);
    EXPECT_EQ(pong[16], 4);
    EXPECT_EQ(pong[32], 2);
    EXPECT_EQ(pong[20], 7);
    EXPECT_EQ((Bytes{pong.begin() + 36, pong.begin() + 40}), (Bytes{0x1B, 0x00, 0x03, 0x00}));
    // 64-byte body (funnel): no zero fill, 112 bytes, 96 / 12 / 10.
    Bytes funnel = Expected(FunnelCommand(), 1);
    ASSERT_EQ(funnel.size(), 112u);
    EXPECT_EQ(funnel[8], 96);
    EXPECT_EQ(funnel[16], 12);
    EXPECT_EQ(funnel[32], 10);
    // Open file with a 6-character path: 24-byte body, 72-byte packet.
    EXPECT_EQ(OpenFileCommand("/a.asf").body.size(), 24u);
    EXPECT_EQ(Expected(OpenFileCommand("/a.asf"), 2).size(), 72u);
    // Stream switch: one stream, two zero bytes; three streams, 14 bytes.
    EXPECT_EQ(StreamSwitchCommand({1}).body, (Bytes{0, 0}));
    EXPECT_EQ(StreamSwitchCommand({1, 2, 3}).body.size(), 14u);
}

TEST(MmsClient, ExchangeHeaderInChunksWithPingsAndShortPayloads) {
    AsfFixture fixture = MakeFixture({0x0001, 0x0002, 0x0083});
    MmsTestServer::Script script = MmsTestServer::Serving(fixture);
    script.headerChunks = 3;
    script.pingBetweenChunks = true;
    script.pingBeforeOpenReply = true;
    script.trimPayloads = true;
    script.pingEveryPackets = 5;
    Session session(script);

    CMmsClient::Opened opened = session.client->OpenStream("AB", "127.0.0.1", "/media/a.asf");
    ASSERT_EQ(opened.packetSize, fixture.packetSize);
    EXPECT_EQ(opened.headerLength, fixture.header.size());
    EXPECT_EQ(session.client->fileSize(), fixture.WholeFile().size());
    EXPECT_EQ(session.client->StreamCount(), 3);
    EXPECT_EQ(session.ReadToEnd(opened.packetSize), CMmsClient::kEndOfStream);
    EXPECT_EQ(session.dataPackets, 12);
    EXPECT_EQ(session.bytes, 12u * fixture.packetSize);
    EXPECT_EQ(FileBytes(session.file), fixture.WholeFile());

    // Pongs take the next sequence number wherever they fall.
    ExpectCommands(session.Commands(),
                   {ConnectCommand("AB", "127.0.0.1"), FunnelCommand(),
                    OpenFileCommand("/media/a.asf"), PongCommand(), ReadBlockCommand(),
                    PongCommand(), PongCommand(), StreamSwitchCommand({0x0001, 0x0002, 0x0083}),
                    StartPlayingCommand(0x0001), PongCommand(), PongCommand()});
}

TEST(MmsClient, HeaderInOneChunkAndOneStream) {
    AsfFixture fixture = MakeFixture({0x0001});
    Session session(MmsTestServer::Serving(fixture));
    CMmsClient::Opened opened = session.client->OpenStream("", "server.example", "/x.asf");
    ASSERT_EQ(opened.packetSize, fixture.packetSize);
    EXPECT_EQ(session.ReadToEnd(opened.packetSize), CMmsClient::kEndOfStream);
    EXPECT_EQ(FileBytes(session.file), fixture.WholeFile());
    ExpectCommands(
        session.Commands(),
        {ConnectCommand("", "server.example"), FunnelCommand(), OpenFileCommand("/x.asf"),
         ReadBlockCommand(), StreamSwitchCommand({0x0001}), StartPlayingCommand(0x0001)});
}

TEST(MmsClient, ReplySplitOverTwoSegmentsIsGathered) {
    AsfFixture fixture = MakeFixture({0x0001});
    MmsTestServer::Script script = MmsTestServer::Serving(fixture);
    script.splitOpenReply = true;
    script.pingBeforeOpenReply = true;
    Session session(script);
    CMmsClient::Opened opened = session.client->OpenStream("id", "h", "/p");
    ASSERT_EQ(opened.packetSize, fixture.packetSize);
    EXPECT_EQ(session.ReadToEnd(opened.packetSize), CMmsClient::kEndOfStream);
    EXPECT_EQ(FileBytes(session.file), fixture.WholeFile());
    ExpectCommands(
        session.Commands(),
        {ConnectCommand("id", "h"), FunnelCommand(), OpenFileCommand("/p"), PongCommand(),
         ReadBlockCommand(), StreamSwitchCommand({0x0001}), StartPlayingCommand(0x0001)});
}

TEST(MmsClient, TwentyStreamsAreAccepted) {
    std::vector<std::uint16_t> flags;
    for (std::uint16_t i = 1; i <= 20; ++i) {
        flags.push_back(i);
    }
    AsfFixture fixture = MakeFixture(flags);
    Session session(MmsTestServer::Serving(fixture));
    ASSERT_EQ(session.client->OpenStream("id", "h", "/p").packetSize, fixture.packetSize);
    EXPECT_EQ(session.ReadToEnd(fixture.packetSize), CMmsClient::kEndOfStream);
    auto commands = session.Commands();
    ASSERT_GE(commands.size(), 5u);
    EXPECT_EQ(commands[4], Expected(StreamSwitchCommand(flags), 4));
    EXPECT_EQ(commands[4].size(), 48u + 120u);  // 116-byte body, zero-filled to 120
}

struct EndingCase {
    const char* name;
    MmsTestServer::Ending ending;
    int result;
    const char* detail;  // the client's errorDetail
};

class MmsClientEnding : public testing::TestWithParam<EndingCase> {};

TEST_P(MmsClientEnding, EndsWithItsCodeAndKeepsWhatArrived) {
    AsfFixture fixture = MakeFixture();
    Session session(MmsTestServer::Serving(fixture, 4, GetParam().ending));
    CMmsClient::Opened opened = session.client->OpenStream("id", "h", "/p");
    ASSERT_EQ(opened.packetSize, fixture.packetSize);
    EXPECT_EQ(session.ReadToEnd(opened.packetSize), GetParam().result);
    EXPECT_EQ(session.client->ErrorDetail(), GetParam().detail);
    EXPECT_EQ(session.client->ErrorCode(), *GetParam().detail != 0 ? EPROTO : 0);
    EXPECT_EQ(session.dataPackets, 4);
    Bytes want = fixture.header;
    for (int i = 0; i < 4; ++i) {
        want.insert(want.end(), fixture.packets[i].begin(), fixture.packets[i].end());
    }
    EXPECT_EQ(FileBytes(session.file), want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MmsClientEnding,
    testing::Values(EndingCase{"EndOfStream", MmsTestServer::Ending::EndOfStream, -99, ""},
                    EndingCase{"CloseMidStream", MmsTestServer::Ending::Close, -1,
                               "the server closed the connection"},
                    EndingCase{"NoSignature", MmsTestServer::Ending::NoSignature, -5,
                               "a server command without the signature CE FA 0B B0"},
                    EndingCase{"UnknownCommand", MmsTestServer::Ending::UnknownCommand, -6,
                               "an unknown server command 0x0099"},
                    EndingCase{"CommandOver128KiB", MmsTestServer::Ending::HugeCommand, -8,
                               "a server command larger than 128 KiB"},
                    EndingCase{"DataLengthBelow8", MmsTestServer::Ending::ShortDataLength, -8,
                               "a data packet shorter than its 8-byte prefix"}),
    CaseName{});

// The server leaves out each packet's zero fill and the file gets it back, but a server that
// declares large packets and sends (nearly) empty ones must not make us write without bound.
TEST(MmsClient, ZeroFillIsBoundedByWhatTheServerSent) {
    struct Case {
        const char* name;
        std::uint32_t packetSize;
        std::uint32_t payload;  // bytes of each packet actually sent
        std::size_t packets;
        int result;
        const char* detail;
        int dataPackets;  // written before the end
    };
    const Case cases[] = {
        {"short packets of a real server", 3200, 400, 200, CMmsClient::kEndOfStream, "", 200},
        {"half-empty large packets", 65536, 2048, 50, CMmsClient::kEndOfStream, "", 50},
        {"one nearly empty last packet", 3200, 3200, 9, CMmsClient::kEndOfStream, "", 9},
        {"empty data packets", 131072, 0, 2000, CMmsClient::kBadLength,
         "a data packet without room for an ASF packet header", 0},
        {"bare packet headers in 128 KiB packets", 131072, 8, 2000, CMmsClient::kTooMuchPadding,
         "data packets padded to more than 64 times their size", 1},
        {"tiny payloads in 3200-byte packets", 3200, 20, 2000, CMmsClient::kTooMuchPadding,
         "data packets padded to more than 64 times their size", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AsfFixture fixture = MakeFixture({0x0001});
        fixture.packetSize = c.packetSize;
        fixture.Build();
        fixture.packets.assign(c.packets, Bytes(c.packetSize, 0));
        for (auto& packet : fixture.packets) {
            std::fill(packet.begin(), packet.begin() + c.payload, 0x5A);
        }
        if (std::string(c.name) == "one nearly empty last packet") {
            std::fill(fixture.packets.back().begin() + 8, fixture.packets.back().end(), 0);
        }
        MmsTestServer::Script script = MmsTestServer::Serving(fixture);
        script.trimPayloads = true;
        Session session(script);
        ASSERT_EQ(session.client->OpenStream("id", "h", "/p").packetSize, c.packetSize);
        EXPECT_EQ(session.ReadToEnd(c.packetSize), c.result);
        EXPECT_EQ(session.client->ErrorDetail(), c.detail);
        EXPECT_EQ(session.dataPackets, c.dataPackets);
        EXPECT_EQ(FileBytes(session.file).size(),
                  fixture.header.size() + std::size_t{c.packetSize} * c.dataPackets);
    }
}

// Hand-made headers around a File Properties Object and streams.
Bytes HeaderOf(std::initializer_list<Bytes> objects) {
    Bytes children = Concat(objects);
    Bytes data = AsfFixture::DataObjectHeader(3, 3200);
    return Concat({AsfFixture::HeaderObject(30 + children.size(), 0), children, data});
}

Bytes ObjectWithSize(Bytes object, std::uint64_t size) {
    AsfFixture::Set64(object, 16, size);
    return object;
}

struct MalformedCase {
    const char* name;
    MmsTestServer::Script script;
    const char* detail;  // what errorDetail says went wrong
};

Bytes Framed(const Bytes& header, std::uint16_t lengthField) {
    Bytes out = {0,
                 0,
                 0,
                 0,
                 0x02,
                 0,
                 static_cast<std::uint8_t>(lengthField),
                 static_cast<std::uint8_t>(lengthField >> 8)};
    out.insert(out.end(), header.begin(), header.end());
    return out;
}

std::vector<MalformedCase> MalformedCases() {
    auto fileProperties = AsfFixture::FileProperties(1000, 3200);
    auto stream = AsfFixture::StreamProperties(1);
    std::vector<MalformedCase> cases;
    auto add = [&](const char* name, Bytes header, const char* detail) {
        MmsTestServer::Script script;
        script.header = std::move(header);
        cases.push_back({name, script, detail});
    };
    Bytes big = HeaderOf({fileProperties, stream, Bytes(33000, 0x11)});
    add("HeaderOver32KiB", big, "an ASF header larger than 32 KiB");
    add("PacketSizeOver128KiB", HeaderOf({AsfFixture::FileProperties(1000, 131073), stream}),
        "an ASF packet size of 0 or over 128 KiB");
    add("PacketSizeZero", HeaderOf({AsfFixture::FileProperties(1000, 0), stream}),
        "an ASF packet size of 0 or over 128 KiB");
    std::vector<Bytes> many = {fileProperties};
    for (int i = 0; i < 21; ++i) {
        many.push_back(stream);
    }
    Bytes manyStreams = AsfFixture::HeaderObject(0, 0);
    for (const Bytes& object : many) {
        manyStreams.insert(manyStreams.end(), object.begin(), object.end());
    }
    Bytes dataHeader = AsfFixture::DataObjectHeader(3, 3200);
    manyStreams.insert(manyStreams.end(), dataHeader.begin(), dataHeader.end());
    add("MoreThan20Streams", manyStreams, "more than 20 streams in the ASF header");
    add("ObjectSizeBelow24", HeaderOf({fileProperties, ObjectWithSize(stream, 23), stream}),
        "an ASF header object smaller than 24 bytes");
    add("ObjectSizeZero", HeaderOf({ObjectWithSize(Bytes(24, 0x33), 0), fileProperties, stream}),
        "an ASF header object smaller than 24 bytes");
    add("StreamObjectPastTheHeader", HeaderOf({fileProperties, ObjectWithSize(stream, 5000)}),
        "an ASF header object running past the header");
    add("FilePropertiesTooShort",
        HeaderOf({ObjectWithSize(Bytes(fileProperties.begin(), fileProperties.begin() + 60), 60),
                  stream}),
        "a File Properties Object too short for its fields");
    add("StreamPropertiesTooShort",
        HeaderOf({fileProperties, ObjectWithSize(Bytes(stream.begin(), stream.begin() + 60), 60)}),
        "a Stream Properties Object too short for its fields");
    add("NoStreamProperties", HeaderOf({fileProperties}),
        "no Stream Properties Object in the ASF header");
    add("NoFileProperties", HeaderOf({stream}), "no File Properties Object in the ASF header");
    add("TruncatedObject", Concat({AsfFixture::HeaderObject(30, 0), Bytes(10, 0x01)}),
        "an ASF header object cut short");

    MmsTestServer::Script shortChunk;
    shortChunk.rawHeaderStream = Framed(Bytes(64, 0x01), 4);
    cases.push_back(
        {"HeaderChunkLengthBelow8", shortChunk, "a header chunk shorter than its 8-byte prefix"});
    MmsTestServer::Script huge;
    huge.header = HeaderOf({fileProperties, stream});
    huge.headerChunks = 2;
    huge.hugeCommandInHeader = true;
    cases.push_back({"CommandOver128KiBInHeader", huge, "a server command larger than 128 KiB"});
    MmsTestServer::Script refused;
    refused.refuseFunnel = true;
    // The close may reach the client as an end of stream or as a reset.
    cases.push_back({"ClosedDuringExchange", refused, ""});
    return cases;
}

class MmsClientMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(MmsClientMalformed, OpeningFailsWithoutOverrun) {
    Session session(GetParam().script);
    CMmsClient::Opened opened = session.client->OpenStream("id", "h", "/p");
    EXPECT_EQ(opened.packetSize, 0u);
    EXPECT_EQ(opened.headerLength, 0u);
    EXPECT_NE(session.client->ErrorCode(), 0);
    EXPECT_NE(session.client->ErrorDetail(), "");
    EXPECT_NE(session.client->ErrorDetail().find(GetParam().detail), std::string::npos)
        << session.client->ErrorDetail();
}

INSTANTIATE_TEST_SUITE_P(Cases, MmsClientMalformed, testing::ValuesIn(MalformedCases()),
                         CaseName{});

// A send that fails is the caller's failure, with the system's words, and nothing reaches
// stderr: during the opening exchange, and for a pong in the transfer.
TEST(MmsClient, FailedSendsEndTheExchangeQuietly) {
    AsfFixture fixture = MakeFixture({0x0001});
    for (bool whileOpening : {true, false}) {
        SCOPED_TRACE(whileOpening ? "opening" : "pong");
        MmsTestServer::Script script = MmsTestServer::Serving(fixture);
        script.pingEveryPackets = 2;
        Session session(script);
        testing::internal::CaptureStderr();
        if (whileOpening) {
            ::shutdown(session.socket, SHUT_WR);
            EXPECT_EQ(session.client->OpenStream("id", "h", "/p").packetSize, 0u);
        } else {
            ASSERT_EQ(session.client->OpenStream("id", "h", "/p").packetSize, fixture.packetSize);
            ::shutdown(session.socket, SHUT_WR);
            EXPECT_EQ(session.ReadToEnd(fixture.packetSize), CMmsClient::kSendFailed);
            EXPECT_EQ(session.dataPackets, 2);
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(session.client->ErrorCode(), EPIPE);
        EXPECT_EQ(session.client->ErrorDetail(), "send: Broken pipe");
    }
}

TEST(MmsClientParse, LastFilePropertiesWinsAndFileSizeIsTheLowHalf) {
    Bytes header = HeaderOf({AsfFixture::FileProperties(0x1'0000'0500ull, 1600),
                             AsfFixture::StreamProperties(0x0105),
                             AsfFixture::FileProperties(0x2'0000'0700ull, 3200)});
    CMmsClient client(-1, -1);
    EXPECT_EQ(client.ParseHeader(header.data(), header.size()), 3200u);
    EXPECT_EQ(client.fileSize(), 0x700u);
    ASSERT_EQ(client.StreamCount(), 1);
    EXPECT_EQ(client.streamId(0), 0x0105u);
}

}  // namespace
