// The published test vectors of QUIC versions 1 and 2 (RFC 9001 and RFC 9369, Appendix A), and
// the packet header and packet number cases around them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/quic/QuicDirectionKeys.h"
#include "core/quic/QuicInitialSecrets.h"
#include "core/quic/QuicPacketHeader.h"
#include "core/quic/QuicPacketNumber.h"
#include "core/tls/TlsKeyDerivation.h"
#include "support/CaseName.h"

namespace {

std::vector<std::uint8_t> bytes(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string hex(std::span<const std::uint8_t> data) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t byte : data) {
        out += kDigits[byte >> 4];
        out += kDigits[byte & 15];
    }
    return out;
}

const TlsCipherSuite& suite(std::uint16_t id) {
    return *TlsCipherSuite::find(id, TlsCipherSuite::kTls13);
}

// The secrets of the Initial packets for the RFCs' client DCID 8394c8f03e515708, and the key,
// IV and header protection key of each side.
struct InitialCase {
    std::uint32_t version;
    const char* clientSecret;
    const char* serverSecret;
    const char* keys[2][3];  // client, server: key, iv, hp
};

class QuicInitialKeys : public testing::TestWithParam<InitialCase> {};

TEST_P(QuicInitialKeys, FollowFromTheClientsFirstDcid) {
    const InitialCase& c = GetParam();
    const QuicVersion& version = *QuicVersion::find(c.version);
    QuicInitialSecrets secrets;
    ASSERT_TRUE(QuicInitialSecrets::derive(version, bytes("8394c8f03e515708"), secrets));
    EXPECT_EQ(hex(secrets.client.bytes()), c.clientSecret);
    EXPECT_EQ(hex(secrets.server.bytes()), c.serverSecret);
    for (int side = 0; side < 2; ++side) {
        const SecretBytes& secret = side == 0 ? secrets.client : secrets.server;
        const char* labels[] = {version.keyLabel, version.ivLabel, version.hpLabel};
        for (int i = 0; i < 3; ++i) {
            std::vector<std::uint8_t> out(i == 1 ? 12 : 16);
            ASSERT_TRUE(TlsKeyDerivation::expandLabel("SHA256", secret.bytes(), labels[i], out));
            EXPECT_EQ(hex(out), c.keys[side][i]) << labels[i];
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rfc, QuicInitialKeys,
    testing::Values(InitialCase{QuicVersion::kV1,
                                "c00cf151ca5be075ed0ebfb5c80323c42d6b7db67881289af4008f1f6c357aea",
                                "3c199828fd139efd216c155ad844cc81fb82fa8d7446fa7d78be803acdda951b",
                                {{"1f369613dd76d5467730efcbe3b1a22d", "fa044b2f42a3fd3b46fb255c",
                                  "9f50449e04a0e810283a1e9933adedd2"},
                                 {"cf3a5331653c364c88f0f379b6067e37", "0ac1493ca1905853b0bba03e",
                                  "c206b8d9b9f0f37644430b490eeaa314"}}},
                    InitialCase{QuicVersion::kV2,
                                "14ec9d6eb9fd7af83bf5a668bc17a7e283766aade7ecd0891f70f9ff7f4bf47b",
                                "0263db1782731bf4588e7e4d93b7463907cb8cd8200b5da55a8bd488eafc37c1",
                                {{"8b1a0bc121284290a29e0971b5cd045d", "91f73e2351d8fa91660e909f",
                                  "45b95e15235d6f45a6b19cbcb0294ba9"},
                                 {"82db637861d55e1d011f19ea71d5d2a7", "dd13c276499c0249d3310652",
                                  "edf6d05c83121201b436e16877593c3a"}}}));

// Header protection masks from the samples of the RFCs' client Initials and ChaCha20 packet.
struct MaskCase {
    TlsCipherSuite::Aead aead;
    const char* key;
    const char* sample;
    const char* mask;
};

class QuicHeaderProtectionMask : public testing::TestWithParam<MaskCase> {};

TEST_P(QuicHeaderProtectionMask, ComesFromTheSample) {
    const MaskCase& c = GetParam();
    QuicHeaderProtection protection;
    ASSERT_TRUE(protection.install(c.aead, bytes(c.key)));
    QuicHeaderProtection::Mask mask{};
    ASSERT_TRUE(protection.mask(bytes(c.sample), mask));
    EXPECT_EQ(hex(mask), c.mask);
    EXPECT_FALSE(protection.mask(bytes("00"), mask));  // a sample cut short
}

using Aead = TlsCipherSuite::Aead;
INSTANTIATE_TEST_SUITE_P(
    Rfc, QuicHeaderProtectionMask,
    testing::Values(MaskCase{Aead::Aes128Gcm, "9f50449e04a0e810283a1e9933adedd2",
                             "d1b1c98dd7689fb8ec11d242b123dc9b", "437b9aec36"},
                    MaskCase{Aead::Aes128Gcm, "45b95e15235d6f45a6b19cbcb0294ba9",
                             "ffe67b6abcdb4298b485dd04de806071", "94a0c95e80"},
                    MaskCase{Aead::ChaCha20Poly1305,
                             "25a282b9e82f06f21f488917a4fc8f1b73573685608597d0efcb076b0ab7a7a4",
                             "5e5cd55c41f69080575d7999c25a5bfb", "aefefe7d03"}));

// Whole protected packets: the server's Initial in both versions and the ChaCha20 short header
// packet, opened with their secrets; the same packets damaged do not open.
struct OpenCase {
    const char* name;
    std::uint32_t version;
    std::uint16_t suite;
    const char* secret;
    std::uint64_t largest;  // numbers decode relative to it; 0: none opened yet
    const char* packet;
    std::uint64_t number;
    const char* payload;
};

void PrintTo(const OpenCase& c, std::ostream* out) {
    *out << c.name;
}

const char kServerHelloPayload[] =
    "02000000000600405a020000560303eefce7f7b37ba1d1632e96677825ddf73988cfc79825df566dc5430b9a"
    "045a1200130100002e00330024001d00209d3c940d89690b84d08a60993c144eca684d1081287c834d5311bcf3"
    "2bb9da1a002b00020304";

class QuicProtectedPacket : public testing::TestWithParam<OpenCase> {};

TEST_P(QuicProtectedPacket, OpensWithItsSecret) {
    const OpenCase& c = GetParam();
    std::vector<std::uint8_t> packet = bytes(c.packet);
    QuicPacketHeader header;
    ASSERT_EQ(QuicPacketHeader::parse(packet, 0, header), QuicPacketHeader::Parse::Packet);
    const QuicVersion& version = *QuicVersion::find(c.version);
    QuicDirectionKeys keys;
    ASSERT_TRUE(keys.install(suite(c.suite), version, bytes(c.secret)));
    if (c.largest > 0) {
        keys.setLargest(c.largest);
    }
    std::vector<std::uint8_t> out(packet.size());
    std::optional<QuicDirectionKeys::Opened> opened =
        keys.open(std::span(packet).first(header.length), header.numberOffset, out);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->number, c.number);
    EXPECT_EQ(hex(opened->payload), c.payload);

    for (std::size_t at : {std::size_t{0}, header.numberOffset, packet.size() - 1}) {
        std::vector<std::uint8_t> damaged = packet;
        damaged[at] ^= 0x04;
        EXPECT_FALSE(keys.open(std::span(damaged).first(header.length), header.numberOffset, out))
            << "byte " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rfc, QuicProtectedPacket,
    testing::Values(
        OpenCase{"ServerInitialV1", QuicVersion::kV1, 0x1301,
                 "3c199828fd139efd216c155ad844cc81fb82fa8d7446fa7d78be803acdda951b", 0,
                 "cf000000010008f067a5502a4262b5004075c0d95a482cd0991cd25b0aac406a5816b6394100f37a"
                 "1c69797554780bb38cc5a99f5ede4cf73c3ec2493a1839b3dbcba3f6ea46c5b7684df3548e7ddeb9"
                 "c3bf9c73cc3f3bded74b562bfb19fb84022f8ef4cdd93795d77d06edbb7aaf2f58891850abbdca3d"
                 "20398c276456cbc42158407dd074ee",
                 1, kServerHelloPayload},
        OpenCase{"ServerInitialV2", QuicVersion::kV2, 0x1301,
                 "0263db1782731bf4588e7e4d93b7463907cb8cd8200b5da55a8bd488eafc37c1", 0,
                 "dc6b3343cf0008f067a5502a4262b5004075d92faaf16f05d8a4398c47089698baeea26b91eb761d"
                 "9b89237bbf87263017915358230035f7fd3945d88965cf17f9af6e16886c61bfc703106fbaf3cb4c"
                 "fa52382dd16a393e42757507698075b2c984c707f0a0812d8cd5a6881eaf21ceda98f4bd23f6fe1a"
                 "3e2c43edd9ce7ca84bed8521e2e140",
                 1, kServerHelloPayload},
        OpenCase{"ChaCha20ShortHeader", QuicVersion::kV1, 0x1303,
                 "9ac312a7f877468ebe69422748ad00a15443f18203a07d6060f688f30f21632b", 654360563,
                 "4cfe4189655e5cd55c41f69080575d7999c25a5bfb", 654360564, "01"}),
    CaseName{});

TEST(QuicPacketNumber, IsTheClosestToTheNextExpected) {
    struct Row {
        std::int64_t largest;
        std::uint64_t truncated;
        unsigned bits;
        std::uint64_t expected;
    };
    const Row rows[] = {
        {0xa82f30ea, 0x9b32, 16, 0xa82f9b32},  // RFC 9000 A.3
        {-1, 0, 8, 0},                         // the first packet
        {0xff, 0x01, 8, 0x101},                // past a wrap of the truncated bits
        {0x100, 0xff, 8, 0xff},                // a late packet from before the wrap
        {0x3fffffffffffffff - 1, 0xff, 8, 0x3fffffffffffffff},  // the largest there can be
    };
    for (const Row& row : rows) {
        EXPECT_EQ(QuicPacketNumber::decode(row.largest, row.truncated, row.bits), row.expected)
            << row.largest;
    }
}

// Headers read without keys: where each packet's protected bytes are, and what is refused.
struct HeaderCase {
    const char* name;
    const char* packet;
    std::size_t shortDcidLength;
    QuicPacketHeader::Parse parse;
    QuicPacketType type;
    std::size_t dcidLength;
    std::size_t numberOffset;
    std::size_t length;
};

void PrintTo(const HeaderCase& c, std::ostream* out) {
    *out << c.name;
}

// 20 bytes of protected packet number and sample after each header.
const std::string kTail(40, '5');

class QuicPacketHeaderRead : public testing::TestWithParam<HeaderCase> {};

TEST_P(QuicPacketHeaderRead, SaysWhereThePacketLies) {
    const HeaderCase& c = GetParam();
    std::vector<std::uint8_t> packet = bytes(c.packet + kTail);
    QuicPacketHeader header;
    ASSERT_EQ(QuicPacketHeader::parse(packet, c.shortDcidLength, header), c.parse);
    if (c.parse == QuicPacketHeader::Parse::Packet) {
        EXPECT_EQ(header.type, c.type);
        EXPECT_EQ(header.dcid.length, c.dcidLength);
        EXPECT_EQ(header.numberOffset, c.numberOffset);
        EXPECT_EQ(header.length, c.length);
    }
}

using Parse = QuicPacketHeader::Parse;
using Type = QuicPacketType;
INSTANTIATE_TEST_SUITE_P(
    Cases, QuicPacketHeaderRead,
    testing::Values(
        // first byte, version, DCID, SCID, (token,) length, then the protected bytes
        HeaderCase{"InitialV1",
                   "c3"
                   "00000001"
                   "0411223344"
                   "00"
                   "00"
                   "14",
                   0, Parse::Packet, Type::Initial, 4, 13, 33},
        HeaderCase{"HandshakeV1",
                   "e0"
                   "00000001"
                   "00"
                   "0199"
                   "14",
                   0, Parse::Packet, Type::Handshake, 0, 9, 29},
        HeaderCase{"InitialV2",
                   "d0"
                   "6b3343cf"
                   "00"
                   "00"
                   "0201aa"
                   "14",
                   0, Parse::Packet, Type::Initial, 0, 11, 31},
        HeaderCase{"HandshakeV2",
                   "f0"
                   "6b3343cf"
                   "00"
                   "00"
                   "14",
                   0, Parse::Packet, Type::Handshake, 0, 8, 28},
        HeaderCase{"RetryV2",
                   "c0"
                   "6b3343cf"
                   "00"
                   "0401020304"
                   "aabbcc",
                   0, Parse::Packet, Type::Retry, 0, 11, 34},
        HeaderCase{"ZeroRttV1",
                   "d0"
                   "00000001"
                   "00"
                   "00"
                   "4014",
                   0, Parse::Packet, Type::ZeroRtt, 0, 9, 29},
        HeaderCase{"ShortHeader",
                   "40"
                   "0102030405060708",
                   8, Parse::Packet, Type::OneRtt, 8, 9, 29},
        HeaderCase{"ShortWithoutFixedBit",
                   "01"
                   "0102",
                   2, Parse::Packet, Type::OneRtt, 2, 3, 23},
        HeaderCase{"VersionNegotiation",
                   "80"
                   "00000000"
                   "00"
                   "00"
                   "00000001",
                   0, Parse::VersionNegotiation, Type::OneRtt, 0, 0, 0},
        HeaderCase{"OtherVersion",
                   "c0"
                   "ff00001d"
                   "00"
                   "00",
                   0, Parse::UnknownVersion, Type::OneRtt, 0, 0, 0},
        HeaderCase{"LengthPastTheEnd",
                   "c0"
                   "00000001"
                   "00"
                   "00"
                   "00"
                   "4100",
                   0, Parse::Malformed, Type::OneRtt, 0, 0, 0},
        HeaderCase{"TooShortToSample",
                   "c0"
                   "00000001"
                   "00"
                   "00"
                   "00"
                   "05",
                   0, Parse::Malformed, Type::OneRtt, 0, 0, 0},
        HeaderCase{"DcidOf21Bytes",
                   "c0"
                   "00000001"
                   "15"
                   "000000000000000000000000000000000000000000"
                   "00"
                   "00"
                   "14",
                   0, Parse::Malformed, Type::OneRtt, 0, 0, 0},
        HeaderCase{"TokenPastTheEnd",
                   "c0"
                   "00000001"
                   "00"
                   "00"
                   "50",
                   0, Parse::Malformed, Type::OneRtt, 0, 0, 0},
        HeaderCase{"ShortCutInTheId",
                   "40"
                   "0102",
                   8, Parse::Malformed, Type::OneRtt, 0, 0, 0}),
    CaseName{});

}  // namespace
