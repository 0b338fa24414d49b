#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AsfFixture.h"
#include "CliProcess.h"
#include "MmsExpectedCommands.h"
#include "MmsTestServer.h"
#include "core/capture/CSnmpAdapterList.h"
#include "core/capture/SystemInterfaceTable.h"

namespace fs = std::filesystem;

namespace {

using namespace mms_expected;

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What the command should send as its client identifier: the first adapter's bytes from the
// physical address on, up to the first zero.
std::string FirstAdapterId() {
    SystemInterfaceTable system;
    std::vector<AdapterEntry> entries;
    if (CSnmpAdapterList::ListAdapters(system, entries) <= 0) {
        return {};
    }
    const auto* bytes =
        reinterpret_cast<const char*>(&entries[0]) + offsetof(AdapterEntry, physAddress);
    std::string id;
    for (int i = 0; i < 64 && bytes[i] != 0; ++i) {
        id += bytes[i];
    }
    return id;
}

class MmsDownloadCommandTest : public testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvex-cli-mms-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        output = (dir / "out.asf").string();
        fixture.Build();
    }
    void TearDown() override { fs::remove_all(dir); }

    MmsTestServer::Script Script() const {
        MmsTestServer::Script script = MmsTestServer::Serving(fixture);
        script.trimPayloads = true;
        return script;
    }
    static std::string Url(const char* scheme, std::uint16_t port) {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + "/media/a.asf";
    }

    AsfFixture fixture;
    fs::path dir;
    std::string output;
};

TEST_F(MmsDownloadCommandTest, CompletesWithProgressLinesAndTheWholeFile) {
    MmsTestServer server(Script());
    CliProcess cli({"download", Url("mms", server.port()), "--output", output, "--progress"});
    ASSERT_TRUE(cli.started());
    EXPECT_EQ(cli.Finish(), 0) << cli.errors();
    ASSERT_FALSE(cli.lines().empty());
    for (const std::string& line : cli.lines()) {
        EXPECT_EQ(line.rfind(R"({"state":)", 0), 0u) << line;
    }
    EXPECT_NE(cli.lines().back().find(R"("state":2)"), std::string::npos);
    EXPECT_NE(cli.lines().back().find("完了"), std::string::npos);
    EXPECT_EQ(ReadBytes(output), fixture.WholeFile());

    auto commands = server.Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0], Expected(ConnectCommand(FirstAdapterId(), "127.0.0.1"), 0));
    EXPECT_EQ(commands[2], Expected(OpenFileCommand("/media/a.asf"), 2));
}

TEST_F(MmsDownloadCommandTest, AnIpv6LiteralServerAndAQueryInTheUrl) {
    MmsTestServer server(Script(), 20, true);
    CliProcess cli({"download", "mms://[::1]:" + std::to_string(server.port()) + "/media/a.asf?t=9",
                    "--output", output});
    ASSERT_TRUE(cli.started());
    EXPECT_EQ(cli.Finish(), 0) << cli.errors();
    EXPECT_EQ(ReadBytes(output), fixture.WholeFile());
    auto commands = server.Commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[0], Expected(ConnectCommand(FirstAdapterId(), "::1"), 0));
    EXPECT_EQ(commands[2], Expected(OpenFileCommand("/media/a.asf?t=9"), 2));
}

TEST_F(MmsDownloadCommandTest, SignalDuringAStallCancelsWith130AndKeepsThePartialFile) {
    MmsTestServer::Script script = Script();
    script.endAfter = 2;
    script.ending = MmsTestServer::Ending::Stall;
    MmsTestServer server(script);
    CliProcess cli({"download", Url("mmsu", server.port()), "--output", output, "--progress"});
    ASSERT_TRUE(cli.started());
    std::string line;
    // The connecting line, then one line per packet (each moves the percentage); then silence.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(cli.ReadLine(line));
    }
    EXPECT_NE(line.find('%'), std::string::npos) << line;
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Finish(), 130);
    EXPECT_NE(cli.lines().back().find("Cancel"), std::string::npos);
    const std::size_t expected = fixture.header.size() + 2 * fixture.packetSize;
    auto whole = fixture.WholeFile();
    EXPECT_EQ(ReadBytes(output),
              std::vector<std::uint8_t>(whole.begin(), whole.begin() + expected));
}

// Killed mid-transfer, the target is as it was: the old file stays, and no ASF file cut short
// takes its name.
TEST_F(MmsDownloadCommandTest, KilledMidTransferLeavesTheOldFile) {
    { std::ofstream(output, std::ios::binary) << "precious"; }
    MmsTestServer::Script script = Script();
    script.endAfter = 2;
    script.ending = MmsTestServer::Ending::Stall;
    MmsTestServer server(script);
    CliProcess cli({"download", Url("mms", server.port()), "--output", output, "--progress"});
    ASSERT_TRUE(cli.started());
    std::string line;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(cli.ReadLine(line));
    }
    cli.Signal(SIGKILL);
    EXPECT_EQ(cli.Finish(), -1);
    EXPECT_EQ(ReadBytes(output),
              std::vector<std::uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    // The packets shown may still have been on their way to the temporary file.
    EXPECT_LE(ReadBytes(dir / ".out.asf.part").size(),
              fixture.header.size() + 2 * fixture.packetSize);
}

TEST_F(MmsDownloadCommandTest, ServerErrorMidStreamFailsWithTheMessageAndNoFile) {
    MmsTestServer::Script script = Script();
    script.endAfter = 3;
    script.ending = MmsTestServer::Ending::NoSignature;
    MmsTestServer server(script);
    CliProcess cli({"download", Url("mms", server.port()), "--output", output, "--progress"});
    EXPECT_EQ(cli.Finish(), 1);
    EXPECT_NE(cli.errors().find("ダウンロード中にエラーが発生しました。(71)"), std::string::npos)
        << cli.errors();
    ASSERT_FALSE(cli.lines().empty());
    EXPECT_NE(cli.lines().back().find(R"("state":0)"), std::string::npos) << cli.lines().back();
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(MmsDownloadCommandTest, RefusedConnectionFailsWithTheMessage) {
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);

    CliProcess cli({"download", Url("mmst", ntohs(address.sin_port)), "--output", output});
    EXPECT_EQ(cli.Finish(), 1);
    EXPECT_NE(cli.errors().find("サーバに接続できませんでした。 (111)"), std::string::npos)
        << cli.errors();
    EXPECT_FALSE(fs::exists(output));
}

}  // namespace
