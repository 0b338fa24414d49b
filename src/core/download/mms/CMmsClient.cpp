#include "core/download/mms/CMmsClient.h"

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kCommandHeaderSize = 48;
constexpr std::size_t kPrefixSize = 8;
// Received bytes are gathered here: room for the largest command packet, and large enough that
// one receive brings many data packets, which then go to the file in one gathered write.
constexpr std::size_t kReceiveCapacity = 8 * CMmsClient::kPacketCapacity;
// Each widened text is built in an area of this size, as the server side expects at most.
constexpr std::size_t kWideAreaSize = 1000;
// Held-back packet pieces are written once this many have gathered (within IOV_MAX).
constexpr std::size_t kMaxPendingPieces = 512;
constexpr std::size_t kMaxPendingBytes = 1 << 20;

constexpr std::uint8_t kSignature[4] = {0xCE, 0xFA, 0x0B, 0xB0};
constexpr std::uint8_t kFilePropertiesGuid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::uint8_t kStreamPropertiesGuid[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::uint8_t kDataObjectGuid[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::size_t kHeaderObjectSize = 30;
constexpr std::size_t kObjectHeaderSize = 24;
constexpr std::size_t kFileSizeOffset = 40;
constexpr std::size_t kPacketSizeOffset = 92;
constexpr std::size_t kStreamFlagsOffset = 72;

constexpr std::uint8_t kHeaderChunk = 0x02;
constexpr std::uint8_t kDataPacket = 0x04;

constexpr std::uint16_t kCommandConnect = 0x01;
constexpr std::uint16_t kCommandFunnel = 0x02;
constexpr std::uint16_t kCommandOpenFile = 0x05;
constexpr std::uint16_t kCommandStartPlaying = 0x07;
constexpr std::uint16_t kCommandReadBlock = 0x15;
constexpr std::uint16_t kCommandPing = 0x1B;
constexpr std::uint16_t kCommandStreamSwitch = 0x33;
constexpr std::uint16_t kServerPlayStarted = 0x05;
constexpr std::uint16_t kServerEndOfStream = 0x1E;

std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t get64(const std::uint8_t* p) {
    return get32(p) | (static_cast<std::uint64_t>(get32(p + 4)) << 32);
}

void put32(std::uint8_t* p, std::uint32_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

// Each byte becomes one UTF-16LE code unit of the same value (no code-page conversion).
void appendWidened(std::vector<std::uint8_t>& body, std::string_view text) {
    for (char c : text) {
        body.push_back(static_cast<std::uint8_t>(c));
        body.push_back(0);
    }
}

std::uint16_t commandId(const std::uint8_t* packet) {
    return get16(packet + 36);
}

}  // namespace

CMmsClient::CMmsClient(int socket, int file)
    : socket_(socket), file_(file), in_(kReceiveCapacity), zeros_(kPacketCapacity, 0) {
    pending_.reserve(kMaxPendingPieces);
    out_.reserve(kPacketCapacity);
    command_.reserve(kPacketCapacity);
}

void CMmsClient::Fail(const char* what) {
    errorCode_ = EPROTO;
    errorDetail_ = what;
}

void CMmsClient::FailCall(const char* call, int code) {
    errorCode_ = code != 0 ? code : EIO;
    errorDetail_ = std::string(call) + ": " + std::strerror(errorCode_);
}

bool CMmsClient::SendCommand(std::uint16_t command, std::uint32_t argument1,
                             std::uint32_t argument2, const std::uint8_t* body,
                             std::size_t bodyLength) {
    const std::uint32_t blocks = static_cast<std::uint32_t>((bodyLength + 7) / 8);
    out_.assign(kCommandHeaderSize + 8 * std::size_t{blocks}, 0);
    std::uint8_t* p = out_.data();
    p[0] = 0x01;
    std::memcpy(p + 4, kSignature, sizeof kSignature);
    put32(p + 8, 8 * (blocks + 4));
    p[12] = 'M';
    p[13] = 'M';
    p[14] = 'S';
    p[15] = ' ';
    put32(p + 16, blocks + 4);
    put32(p + 20, sequence_++);
    put32(p + 32, blocks + 2);
    put32(p + 36, command | 0x00030000u);
    put32(p + 40, argument1);
    put32(p + 44, argument2);
    if (bodyLength > 0) {
        std::memcpy(p + kCommandHeaderSize, body, bodyLength);
    }
    ssize_t sent = 0;
    do {
        sent = ::send(socket_, p, out_.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        FailCall("send", errno);
        return false;
    }
    if (static_cast<std::size_t>(sent) != out_.size()) {
        // The server would read the next packet from the middle of this one.
        errorCode_ = EIO;
        errorDetail_ = "send: only " + std::to_string(sent) + " of " + std::to_string(out_.size()) +
                       " bytes of a command were sent";
        return false;
    }
    return true;
}

bool CMmsClient::SendPong() {
    return SendCommand(kCommandPing, 0, 0, nullptr, 0);
}

const std::uint8_t* CMmsClient::Take(std::size_t count) {
    if (count > in_.size()) {
        Fail("a packet larger than the receive buffer");
        return nullptr;
    }
    if (inEnd_ - inStart_ < count) {
        // The buffer is about to change: what is held back from it goes to the file first.
        if (!Flush()) {
            return nullptr;
        }
        if (inStart_ > 0) {
            // Move the few unread bytes to the front, so that each receive can fill the buffer.
            std::memmove(in_.data(), in_.data() + inStart_, inEnd_ - inStart_);
            inEnd_ -= inStart_;
            inStart_ = 0;
        }
    }
    while (inEnd_ - inStart_ < count) {
        ssize_t got = ::recv(socket_, in_.data() + inEnd_, in_.size() - inEnd_, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            FailCall("receive", errno);
            return nullptr;
        }
        if (got == 0) {
            Fail("the server closed the connection");
            return nullptr;
        }
        inEnd_ += static_cast<std::size_t>(got);
    }
    const std::uint8_t* data = in_.data() + inStart_;
    inStart_ += count;
    if (inStart_ == inEnd_) {
        inStart_ = inEnd_ = 0;
    }
    return data;
}

std::size_t CMmsClient::ReadExact(std::uint8_t* buffer, std::size_t count) {
    const std::uint8_t* data = Take(count);
    if (data == nullptr) {
        return 0;
    }
    std::memcpy(buffer, data, count);
    return count;
}

// Reads the rest of a command packet whose first 8 bytes are `prefix` into `packet`.
bool CMmsClient::ReadCommandRest(const std::uint8_t* prefix, std::vector<std::uint8_t>& packet) {
    packet.assign(prefix, prefix + kPrefixSize);
    const std::uint8_t* lengthField = Take(4);
    if (lengthField == nullptr) {
        return false;
    }
    const std::uint32_t length = get32(lengthField);
    packet.insert(packet.end(), lengthField, lengthField + 4);
    // The whole packet is 16 + length bytes and must fit the command buffer.
    if (length > kPacketCapacity - 16) {
        Fail("a server command larger than 128 KiB");
        return false;
    }
    const std::uint8_t* rest = Take(std::size_t{length} + 4);
    if (rest == nullptr) {
        return false;
    }
    packet.insert(packet.end(), rest, rest + length + 4);
    return true;
}

bool CMmsClient::ReadReply(bool answerPings) {
    for (;;) {
        const std::uint8_t* prefix = Take(kPrefixSize);
        if (prefix == nullptr) {
            return false;
        }
        if (std::memcmp(prefix + 4, kSignature, 4) != 0) {
            // Not a command packet: drop what has arrived, as nothing in it is used.
            inStart_ = inEnd_ = 0;
            return true;
        }
        std::uint8_t copy[kPrefixSize];
        std::memcpy(copy, prefix, kPrefixSize);
        if (!ReadCommandRest(copy, command_)) {
            return false;
        }
        if (!answerPings || command_.size() < 40 || commandId(command_.data()) != kCommandPing) {
            return true;
        }
        if (!SendPong()) {
            return false;
        }
    }
}

bool CMmsClient::WriteAll(const std::uint8_t* data, std::size_t length) {
    iovec piece{const_cast<std::uint8_t*>(data), length};
    pending_.push_back(piece);
    pendingBytes_ += length;
    return Flush();
}

bool CMmsClient::Queue(const std::uint8_t* data, std::size_t length) {
    if (length == 0) {
        return true;
    }
    pending_.push_back({const_cast<std::uint8_t*>(data), length});
    pendingBytes_ += length;
    if (pending_.size() >= kMaxPendingPieces || pendingBytes_ >= kMaxPendingBytes) {
        return Flush();
    }
    return true;
}

bool CMmsClient::Flush() {
    if (writeFailed_) {
        return false;
    }
    iovec* piece = pending_.data();
    std::size_t left = pending_.size();
    while (left > 0) {
        ssize_t written = ::writev(file_, piece, static_cast<int>(left));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            writeFailed_ = true;
            FailCall("write", written < 0 ? errno : EIO);
            return false;
        }
        auto done = static_cast<std::size_t>(written);
        while (left > 0 && done >= piece->iov_len) {
            done -= piece->iov_len;
            ++piece;
            --left;
        }
        if (left > 0) {
            piece->iov_base = static_cast<std::uint8_t*>(piece->iov_base) + done;
            piece->iov_len -= done;
        }
    }
    pending_.clear();
    pendingBytes_ = 0;
    return true;
}

std::size_t CMmsClient::ReadHeader(std::uint8_t* header) {
    std::size_t length = 0;
    for (;;) {
        const std::uint8_t* prefix = Take(kPrefixSize);
        if (prefix == nullptr) {
            return 0;
        }
        if (prefix[4] == kHeaderChunk) {
            const std::uint16_t chunk = get16(prefix + 6);
            if (chunk < kPrefixSize) {
                Fail("a header chunk shorter than its 8-byte prefix");
                return 0;
            }
            if (length + (chunk - kPrefixSize) > kHeaderCapacity) {
                Fail("an ASF header larger than 32 KiB");
                return 0;
            }
            const std::size_t payload = chunk - kPrefixSize;
            if (payload > 0) {
                const std::uint8_t* data = Take(payload);
                if (data == nullptr) {
                    return 0;
                }
                std::memcpy(header + length, data, payload);
                length += payload;
            }
            // The header as sent ends with the Data Object's header, whose last field is 01 01.
            if (length >= 2 && header[length - 1] == 0x01 && header[length - 2] == 0x01) {
                return WriteAll(header, length) ? length : 0;
            }
            continue;
        }
        std::uint8_t copy[kPrefixSize];
        std::memcpy(copy, prefix, kPrefixSize);
        if (!ReadCommandRest(copy, command_)) {
            return 0;
        }
        if (command_.size() >= 40 && commandId(command_.data()) == kCommandPing && !SendPong()) {
            return 0;
        }
    }
}

std::uint32_t CMmsClient::ParseHeader(const std::uint8_t* header, std::size_t length) {
    std::uint32_t packetSize = 0;
    bool sawFileProperties = false;
    std::size_t offset = kHeaderObjectSize;
    while (offset < length) {
        if (length - offset < kObjectHeaderSize) {
            Fail("an ASF header object cut short");
            return 0;
        }
        const std::uint8_t* object = header + offset;
        const std::uint64_t size = get64(object + 16);
        if (size < kObjectHeaderSize) {
            Fail("an ASF header object smaller than 24 bytes");
            return 0;
        }
        if (size > length - offset) {
            // Only the Data Object reaches beyond the header: its packets follow it.
            if (std::memcmp(object, kDataObjectGuid, 16) != 0) {
                Fail("an ASF header object running past the header");
                return 0;
            }
            break;
        }
        if (std::memcmp(object, kFilePropertiesGuid, 16) == 0) {
            if (size < kPacketSizeOffset + 4) {
                Fail("a File Properties Object too short for its fields");
                return 0;
            }
            fileSize_ = get32(object + kFileSizeOffset);
            packetSize = get32(object + kPacketSizeOffset);
            sawFileProperties = true;
        } else if (std::memcmp(object, kStreamPropertiesGuid, 16) == 0) {
            if (size < kStreamFlagsOffset + 2) {
                Fail("a Stream Properties Object too short for its fields");
                return 0;
            }
            if (streamCount_ >= kMaxStreams) {
                Fail("more than 20 streams in the ASF header");
                return 0;
            }
            streamIds_[streamCount_++] = get16(object + kStreamFlagsOffset);
        }
        offset += static_cast<std::size_t>(size);
    }
    if (!sawFileProperties) {
        Fail("no File Properties Object in the ASF header");
        return 0;
    }
    if (packetSize == 0 || packetSize > kPacketCapacity) {
        Fail("an ASF packet size of 0 or over 128 KiB");
        return 0;
    }
    if (streamCount_ == 0) {
        Fail("no Stream Properties Object in the ASF header");
        return 0;
    }
    return packetSize;
}

int CMmsClient::ReadPacket(std::uint32_t packetSize) {
    const std::uint8_t* prefix = Take(kPrefixSize);
    if (prefix == nullptr) {
        return writeFailed_ ? kWriteFailed : kPrefixFailed;
    }
    if (prefix[4] == kDataPacket) {
        const std::uint16_t total = get16(prefix + 6);
        if (total < kPrefixSize) {
            Fail("a data packet shorter than its 8-byte prefix");
            return kBadLength;
        }
        const std::size_t payload = total - kPrefixSize;
        if (payload < kMinAsfPacket) {
            Fail("a data packet without room for an ASF packet header");
            return kBadLength;
        }
        const std::uint8_t* data = Take(payload);
        if (data == nullptr) {
            return writeFailed_ ? kWriteFailed : kPayloadFailed;
        }
        // The server leaves out the zero fill at the end of a packet; the file gets it back.
        const std::size_t kept = std::min<std::size_t>(payload, packetSize);
        const std::size_t padding = packetSize - kept;
        dataReceived_ += total;
        paddingAdded_ += padding;
        if (paddingAdded_ > kMaxPaddingFactor * dataReceived_ + packetSize) {
            Fail("data packets padded to more than 64 times their size");
            return kTooMuchPadding;
        }
        if (!Queue(data, kept) || !Queue(zeros_.data(), padding)) {
            return kWriteFailed;
        }
        return static_cast<int>(packetSize);
    }
    std::uint8_t copy[kPrefixSize];
    std::memcpy(copy, prefix, kPrefixSize);
    const std::uint8_t* lengthField = Take(4);
    if (lengthField == nullptr) {
        return kCommandLengthFailed;
    }
    const std::uint32_t length = get32(lengthField);
    if (length > kPacketCapacity - 16) {
        Fail("a server command larger than 128 KiB");
        return kBadLength;
    }
    const std::uint8_t* rest = Take(std::size_t{length} + 4);
    if (rest == nullptr) {
        return kCommandRestFailed;
    }
    if (std::memcmp(copy + 4, kSignature, 4) != 0) {
        Fail("a server command without the signature CE FA 0B B0");
        return kNoSignature;
    }
    // The command word sits at packet offset 36, that is 24 bytes into the rest.
    if (length + 4 < 28) {
        Fail("a server command too short for its command word");
        return kUnknownCommand;
    }
    const std::uint16_t command = get16(rest + 24);
    switch (command) {
        case kCommandPing:
            return SendPong() ? 0 : kSendFailed;
        case kServerPlayStarted:
            return 0;
        case kServerEndOfStream:
            return kEndOfStream;
        default: {
            char what[48];
            std::snprintf(what, sizeof what, "an unknown server command 0x%04X", command);
            Fail(what);
            return kUnknownCommand;
        }
    }
}

CMmsClient::Opened CMmsClient::OpenStream(std::string_view clientId, std::string_view hostName,
                                          std::string_view path) {
    std::vector<std::uint8_t> body;
    body.reserve(kWideAreaSize);

    const std::string text = std::string("\x1c\x03NSPlayer/9.0.0.2800; {") + std::string(clientId) +
                             "}; Host: " + std::string(hostName);
    appendWidened(body, text);
    body.resize(body.size() + 8, 0);
    if (!SendCommand(kCommandConnect, 0, 0x0004000B, body.data(), body.size()) ||
        !ReadReply(false)) {
        return {};
    }

    body.assign(8, 0);
    body.push_back(0x02);
    body.insert(body.end(), {0, 0, 0});
    appendWidened(body, "\\\\192.168.0.129\\TCP\\1037");
    body.insert(body.end(), {0, 0, 0x30, 0});
    if (!SendCommand(kCommandFunnel, 0, 0, body.data(), body.size()) || !ReadReply(false)) {
        return {};
    }

    body.assign(8, 0);
    appendWidened(body, path);
    body.resize(body.size() + 4, 0);
    if (!SendCommand(kCommandOpenFile, 0, 0, body.data(), body.size()) || !ReadReply()) {
        return {};
    }

    body.assign(40, 0);
    body[32] = 0x02;
    if (!SendCommand(kCommandReadBlock, 1, 0, body.data(), body.size())) {
        return {};
    }
    streamCount_ = 0;
    std::vector<std::uint8_t> header(kHeaderCapacity);
    const std::size_t headerLength = ReadHeader(header.data());
    if (headerLength == 0) {
        return {};
    }
    const std::uint32_t packetSize = ParseHeader(header.data(), headerLength);
    if (packetSize == 0) {
        return {};
    }

    const std::uint32_t firstStream = (streamIds_[0] << 16) | 0xFFFF;
    body.assign(2, 0);
    for (int k = 1; k < streamCount_; ++k) {
        body.insert(body.end(), {0xFF, 0xFF, static_cast<std::uint8_t>(streamIds_[k]), 0, 0, 0});
    }
    if (!SendCommand(kCommandStreamSwitch, static_cast<std::uint32_t>(streamCount_), firstStream,
                     body.data(), body.size()) ||
        !ReadReply()) {
        return {};
    }

    body.assign(24, 0);
    std::fill(body.begin() + 8, body.begin() + 16, 0xFF);
    put32(body.data() + 20, 4);
    if (!SendCommand(kCommandStartPlaying, 1, firstStream, body.data(), body.size())) {
        return {};
    }
    return {packetSize, headerLength};
}
