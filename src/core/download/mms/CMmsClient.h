#pragma once

#include <sys/uio.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The program's own client for the MMS streaming exchange over one connected TCP socket. It
// asks for one file, answers pings, and writes the ASF header followed by every data packet
// (each at the full packet size) to `file`. Everything the server sends is bounds-checked.
// Data packets are written straight from the receive buffer in gathered writes, so Flush must
// be called once the transfer has ended.
class CMmsClient {
  public:
    static constexpr std::size_t kHeaderCapacity = 32 * 1024;
    static constexpr std::size_t kPacketCapacity = 128 * 1024;
    static constexpr int kMaxStreams = 20;
    static constexpr std::uint16_t kDefaultPort = 1755;

    // Results of ReadPacket below 0.
    static constexpr int kPrefixFailed = -1;
    static constexpr int kPayloadFailed = -2;
    static constexpr int kCommandLengthFailed = -3;
    static constexpr int kCommandRestFailed = -4;
    static constexpr int kNoSignature = -5;
    static constexpr int kUnknownCommand = -6;
    static constexpr int kWriteFailed = -7;
    static constexpr int kBadLength = -8;
    static constexpr int kSendFailed = -9;  // a pong could not be sent
    static constexpr int kTooMuchPadding = -10;
    static constexpr int kEndOfStream = -99;

    // The smallest ASF data packet: its payload parsing information without optional fields
    // (two flag bytes, send time, duration). A data packet with less cannot be one.
    static constexpr std::size_t kMinAsfPacket = 8;
    // The zero fill the file gets back may come to this many times the data bytes received,
    // plus one packet: a server that declares huge packets and sends empty ones cannot make
    // us write thousands of times what it sent.
    static constexpr std::uint64_t kMaxPaddingFactor = 64;

    // What the opening exchange learnt: both 0 when it failed.
    struct Opened {
        std::uint32_t packetSize = 0;
        std::size_t headerLength = 0;
    };

    // `socket` is connected and `file` open for writing; both stay owned by the caller.
    CMmsClient(int socket, int file);

    CMmsClient(const CMmsClient&) = delete;
    CMmsClient& operator=(const CMmsClient&) = delete;

    // Runs connect, funnel, open file, read block (header), stream switch and start playing.
    Opened OpenStream(std::string_view clientId, std::string_view hostName, std::string_view path);

    // Builds one command packet and sends it in one call; false (and errorCode) when the send
    // failed or sent only part of the packet.
    bool SendCommand(std::uint16_t command, std::uint32_t argument1, std::uint32_t argument2,
                     const std::uint8_t* body, std::size_t bodyLength);
    // Copies exactly `count` bytes of the stream into `buffer`; returns count, or 0 on failure.
    std::size_t ReadExact(std::uint8_t* buffer, std::size_t count);
    // Reads one reply command packet, answering pings before it; false when the link failed.
    bool ReadReply(bool answerPings = true);
    // Gathers the ASF header into `header` (kHeaderCapacity bytes), writes it to the file once
    // and returns its length; 0 on failure.
    std::size_t ReadHeader(std::uint8_t* header);
    // Walks the header's top-level objects; returns the packet size, 0 when the header is
    // unusable (malformed, no File Properties Object, no stream, too many streams).
    std::uint32_t ParseHeader(const std::uint8_t* header, std::size_t length);
    // Reads one server packet: > 0 data packet written (the packet size), 0 ping or play
    // start, < 0 one of the codes above.
    int ReadPacket(std::uint32_t packetSize);
    // Writes the data packets still held back; false (and errorCode) when the write failed.
    bool Flush();

    std::uint32_t sequence() const { return sequence_; }
    int StreamCount() const { return streamCount_; }
    std::uint32_t streamId(int index) const { return streamIds_[index]; }
    std::uint32_t fileSize() const { return fileSize_; }
    // errno of the failing system call, or EPROTO when the server's data were at fault.
    int ErrorCode() const { return errorCode_; }
    // The failure in words: the call and the system's text, or what was wrong with the server's
    // data. Empty when nothing failed.
    const std::string& ErrorDetail() const { return errorDetail_; }

  private:
    const std::uint8_t* Take(std::size_t count);
    bool ReadCommandRest(const std::uint8_t* prefix, std::vector<std::uint8_t>& packet);
    bool SendPong();
    bool WriteAll(const std::uint8_t* data, std::size_t length);
    bool Queue(const std::uint8_t* data, std::size_t length);
    // The server's data were at fault.
    void Fail(const char* what);
    // A system call failed with `code`.
    void FailCall(const char* call, int code);

    int socket_;
    int file_;
    std::uint32_t sequence_ = 0;
    int streamCount_ = 0;
    std::uint32_t streamIds_[kMaxStreams] = {};
    std::uint32_t fileSize_ = 0;
    int errorCode_ = 0;
    std::string errorDetail_;

    // Received bytes not yet consumed live in in_[inStart_, inEnd_).
    std::vector<std::uint8_t> in_;
    std::size_t inStart_ = 0;
    std::size_t inEnd_ = 0;
    // Packet bytes not yet written: pieces of in_ and zeros_, so in_ is not refilled before
    // they are written.
    std::vector<iovec> pending_;
    std::size_t pendingBytes_ = 0;
    bool writeFailed_ = false;
    std::vector<std::uint8_t> out_;
    std::vector<std::uint8_t> command_;
    std::vector<std::uint8_t> zeros_;
    // Data packet bytes received (prefix included) and zero fill added to the file.
    std::uint64_t dataReceived_ = 0;
    std::uint64_t paddingAdded_ = 0;
};
