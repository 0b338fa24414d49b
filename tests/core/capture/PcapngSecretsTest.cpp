#include "core/capture/PcapngSecrets.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Status = PcapngSecrets::Status;

// Made-up secrets: these lines name no real connection. Key block 'a' names the client random
// of bytes 0xaa, and so on.
std::string keyLine(char random) {
    return "CLIENT_RANDOM " + std::string(64, random) + " " + std::string(96, '5') + "\n";
}

class PcapngWriter {
  public:
    // One block per letter: L/B a section in little/big-endian order (X: in neither), i an
    // interface, p a packet, P a packet longer than the reader's buffer, a..d a TLS key log
    // block (b without its last newline), k 2000 lines of e, w WireGuard secrets, s a secrets
    // length too long for its block, x a packet whose length lies, t a key block cut by the
    // file's end, C a classic pcap header.
    std::string bytes(const std::string& blocks) {
        for (char c : blocks) {
            add(c);
        }
        return out_;
    }

  private:
    void put32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out_.push_back(static_cast<char>(v >> (bigEndian_ ? 24 - 8 * i : 8 * i)));
        }
    }
    void block(std::uint32_t type, const std::vector<std::uint32_t>& words, std::string body) {
        body.resize((body.size() + 3) / 4 * 4, '\0');
        const auto length = static_cast<std::uint32_t>(12 + 4 * words.size() + body.size());
        put32(type);
        put32(length);
        for (std::uint32_t word : words) {
            put32(word);
        }
        out_ += body;
        put32(length);
    }
    void secrets(std::uint32_t type, const std::string& text) {
        block(0xA, {type, static_cast<std::uint32_t>(text.size())}, text);
    }
    void add(char c) {
        const std::size_t start = out_.size();
        switch (c) {
            case 'L':
            case 'B':
            case 'X':
                bigEndian_ = c == 'B';
                block(0x0A0D0D0A,
                      {c == 'X' ? 0x1A2B3C4Eu : 0x1A2B3C4Du, bigEndian_ ? 0x10000u : 1u, ~0u, ~0u},
                      "");
                break;
            case 'i':
                return block(1, {1, 0}, "");
            case 'p':
                return block(6, {0, 0, 0, 60, 60}, std::string(60, 'p'));
            case 'P':
                return block(6, {0, 0, 0, 200000, 200000}, std::string(200000, 'P'));
            case 'b':
                return secrets(0x544C534B, keyLine('b').substr(0, 175));
            case 'k': {
                std::string lines;
                for (int i = 0; i < 2000; ++i) {
                    lines += keyLine('e');
                }
                return secrets(0x544C534B, lines);
            }
            case 'w':
                return secrets(0x57474B4C, keyLine('d'));
            case 's':
                return block(0xA, {0x544C534B, 400}, keyLine('d'));
            case 'x': {  // claims the next key block too, whose end is a block's end as well
                block(6, {0, 0, 0, 60, 60}, std::string(60, 'p'));
                const std::string rest = out_.substr(start + 8);
                out_.resize(start + 4);
                put32(92 + 196);
                out_ += rest;
                break;
            }
            case 't':
                secrets(0x544C534B, keyLine('d'));
                out_.resize(out_.size() - 40);
                break;
            case 'C':
                out_ += std::string("\xd4\xc3\xb2\xa1\x02\0\x04\0", 8) + std::string(16, '\0');
                break;
            default:
                return secrets(0x544C534B, keyLine(c));
        }
    }

    std::string out_;
    bool bigEndian_ = false;
};

struct FileCase {
    const char* name;
    std::string blocks;
    std::string found;  // the key blocks a..d whose line was taken
    std::uint64_t added;
    Status status;
    std::uint64_t maxBytes = PcapngSecrets::kMaxSecretBytes;
    bool bounded = false;
};

const FileCase kCases[] = {
    {"little-endian", "Lipapc", "ac", 2, Status::Read},
    {"big-endian", "Biapcp", "ac", 2, Status::Read},
    {"two sections, two orders", "LipaBipc", "ac", 2, Status::Read},
    {"a line without newline ends with its block", "Libc", "bc", 2, Status::Read},
    {"across the buffer's end", "LiPaPkPc", "ac", 2002, Status::Read},
    {"other secrets skipped", "Liwa", "a", 1, Status::Read},
    {"secrets longer than their block", "Lisapc", "ac", 2, Status::Read},
    {"truncated block", "Liapt", "a", 1, Status::Damaged},
    {"a length that lies", "Liaxc", "a", 1, Status::Damaged},
    {"a section in no byte order", "LiaXic", "a", 1, Status::Damaged},
    {"bounded", "Liabc", "a", 1, Status::Read, 250, true},
    {"classic pcap", "Ca", "", 0, Status::NotPcapng},
    {"empty", "", "", 0, Status::NotPcapng},
};

class PcapngSecretsFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorvex-pcapng-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
};

TEST_F(PcapngSecretsFile, TakesTheTlsKeyLogBlocks) {
    for (const FileCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path path = dir_ / "capture.pcapng";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << PcapngWriter().bytes(c.blocks);
        KeyLog keys;
        const PcapngSecrets::Result result = PcapngSecrets::read(path, keys, c.maxBytes);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.bounded, c.bounded);
        EXPECT_EQ(keys.counts().added, c.added);
        for (char key : std::string("abcd")) {
            ClientRandom random;
            random.fill(static_cast<std::uint8_t>((key - 'a' + 10) * 0x11));
            EXPECT_EQ(keys.find(random).has_value(), c.found.find(key) != std::string::npos) << key;
        }
    }
}

TEST_F(PcapngSecretsFile, LeavesWhatIsNoFileAlone) {
    const std::pair<std::string, Status> cases[] = {
        {dir_.string(), Status::NotPcapng},
        {"/dev/null", Status::NotPcapng},
        {(dir_ / "missing").string(), Status::Failed},
    };
    for (const auto& [path, status] : cases) {
        KeyLog keys;
        EXPECT_EQ(PcapngSecrets::read(path, keys).status, status) << path;
    }
}

}  // namespace
