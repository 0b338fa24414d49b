#include "MmsTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace {

void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* p, std::uint32_t v) {
    put16(p, static_cast<std::uint16_t>(v));
    put16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

std::uint32_t get32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void appendPrefix(std::vector<std::uint8_t>& out, std::uint32_t sequence, std::uint8_t type,
                  std::size_t payload) {
    std::uint8_t prefix[8];
    put32(prefix, sequence);
    prefix[4] = type;
    prefix[5] = 0;
    put16(prefix + 6, static_cast<std::uint16_t>(payload + 8));
    out.insert(out.end(), prefix, prefix + 8);
}

}  // namespace

std::vector<std::uint8_t> MmsTestServer::ServerCommand(std::uint16_t id, std::uint32_t sequence,
                                                       const std::vector<std::uint8_t>& body) {
    const std::size_t blocks = (body.size() + 7) / 8;
    std::vector<std::uint8_t> out(48 + 8 * blocks, 0);
    out[0] = 0x01;
    const std::uint8_t signature[4] = {0xCE, 0xFA, 0x0B, 0xB0};
    std::memcpy(out.data() + 4, signature, 4);
    put32(out.data() + 8, static_cast<std::uint32_t>(8 * (blocks + 4)));
    std::memcpy(out.data() + 12, "MMS ", 4);
    put32(out.data() + 16, static_cast<std::uint32_t>(blocks + 4));
    put32(out.data() + 20, sequence);
    put32(out.data() + 32, static_cast<std::uint32_t>(blocks + 2));
    put32(out.data() + 36, 0x00040000u | id);
    std::copy(body.begin(), body.end(), out.begin() + 48);
    return out;
}

MmsTestServer::MmsTestServer(Script script, int lifetimeSeconds, bool ipv6)
    : script_(std::move(script)),
      deadline_(std::chrono::steady_clock::now() + std::chrono::seconds(lifetimeSeconds)) {
    listener_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (ipv6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_addr = in6addr_loopback;
        length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *address;
    }
    auto* address = reinterpret_cast<sockaddr*>(&storage);
    if (listener_ < 0 || ::bind(listener_, address, length) != 0 || ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, address, &length) != 0) {
        throw std::runtime_error("test server cannot listen on the loopback address");
    }
    port_ = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                       : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    thread_ = std::thread([this] { Serve(); });
}

MmsTestServer::~MmsTestServer() {
    Stop();
    if (thread_.joinable()) {
        thread_.join();
    }
    ::close(listener_);
}

void MmsTestServer::Stop() {
    stop_ = true;
}

bool MmsTestServer::WaitStalled() {
    std::unique_lock lock(mutex_);
    // The limit only keeps a broken client from hanging the test.
    return stalledChanged_.wait_until(lock, deadline_, [this] { return stalled_; });
}

void MmsTestServer::Stall(int fd) {
    {
        std::lock_guard lock(mutex_);
        stalled_ = true;
    }
    stalledChanged_.notify_all();
    Drain(fd);
}

std::vector<std::vector<std::uint8_t>> MmsTestServer::Commands() {
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard lock(mutex_);
    return commands_;
}

bool MmsTestServer::WaitReadable(int fd) {
    while (!stop_ && std::chrono::steady_clock::now() < deadline_) {
        pollfd entry{fd, POLLIN, 0};
        int ready = ::poll(&entry, 1, 20);
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
    return false;
}

void MmsTestServer::Serve() {
    if (!WaitReadable(listener_)) {
        return;
    }
    int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
        return;
    }
    Session(connection);
    ::close(connection);
    timespec used{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    cpuSeconds_ = static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

bool MmsTestServer::ReadFull(int fd, std::uint8_t* out, std::size_t count) {
    std::size_t have = 0;
    while (have < count) {
        if (!WaitReadable(fd)) {
            return false;
        }
        ssize_t got = ::recv(fd, out + have, count - have, 0);
        if (got <= 0) {
            return false;
        }
        have += static_cast<std::size_t>(got);
    }
    return true;
}

bool MmsTestServer::ReadCommand(int fd, std::uint16_t* id) {
    std::vector<std::uint8_t> packet(16);
    if (!ReadFull(fd, packet.data(), 16)) {
        return false;
    }
    const std::uint32_t rest = get32(packet.data() + 8);
    if (rest < 32 || rest > 1 << 20) {
        return false;
    }
    packet.resize(16 + rest);
    if (!ReadFull(fd, packet.data() + 16, rest)) {
        return false;
    }
    *id = static_cast<std::uint16_t>(packet[36] | (packet[37] << 8));
    std::lock_guard lock(mutex_);
    commands_.push_back(std::move(packet));
    return true;
}

bool MmsTestServer::Expect(int fd, std::uint16_t id) {
    std::uint16_t got = 0;
    while (ReadCommand(fd, &got)) {
        if (got == id) {
            return true;
        }
    }
    return false;
}

bool MmsTestServer::SendAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool MmsTestServer::SendHeader(int fd) {
    if (!script_.rawHeaderStream.empty()) {
        return SendAll(fd, script_.rawHeaderStream);
    }
    const auto& header = script_.header;
    const std::size_t chunks = static_cast<std::size_t>(std::max(1, script_.headerChunks));
    const std::size_t step = (header.size() + chunks - 1) / chunks;
    for (std::size_t at = 0, index = 0; at < header.size(); at += step, ++index) {
        const std::size_t piece = std::min(step, header.size() - at);
        std::vector<std::uint8_t> out;
        appendPrefix(out, packetSequence_++, 0x02, piece);
        out.insert(out.end(), header.begin() + at, header.begin() + at + piece);
        if (!SendAll(fd, out)) {
            return false;
        }
        if (index == 0 && script_.hugeCommandInHeader) {
            auto huge = ServerCommand(0x20, serverSequence_++);
            put32(huge.data() + 8, 200000);
            return SendAll(fd, huge);
        }
        if (script_.pingBetweenChunks && at + piece < header.size() &&
            !SendAll(fd, ServerCommand(0x1B, serverSequence_++))) {
            return false;
        }
    }
    return true;
}

bool MmsTestServer::SendPackets(int fd) {
    const std::size_t count = std::min(script_.endAfter, script_.packets.size());
    for (std::size_t i = 0; i < count; ++i) {
        const auto& packet = script_.packets[i];
        std::size_t payload = packet.size();
        if (script_.trimPayloads) {
            while (payload > 0 && packet[payload - 1] == 0) {
                --payload;
            }
        }
        std::vector<std::uint8_t> out;
        appendPrefix(out, packetSequence_++, 0x04, payload);
        out.insert(out.end(), packet.begin(), packet.begin() + payload);
        if (script_.pingEveryPackets > 0 && (i + 1) % script_.pingEveryPackets == 0) {
            auto ping = ServerCommand(0x1B, serverSequence_++);
            out.insert(out.end(), ping.begin(), ping.end());
        }
        if (!SendAll(fd, out)) {
            return false;
        }
    }
    return true;
}

// Sends prefixes and file packets with one gathering call per batch, so that the server
// copies nothing itself and is never the slow side of the benchmark.
bool MmsTestServer::SendFilePackets(int fd) {
    int file = ::open(script_.packetFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return false;
    }
    const std::size_t size = script_.filePacketSize;
    const std::size_t perBatch = std::clamp<std::size_t>((1 << 20) / size, 1, IOV_MAX / 2);
    std::vector<std::uint8_t> raw(perBatch * size);
    std::vector<std::uint8_t> prefixes(perBatch * 8);
    std::vector<iovec> parts(perBatch * 2);
    std::uint64_t left = script_.filePacketCount;
    off_t offset = static_cast<off_t>(script_.packetFileOffset);
    bool ok = true;
    while (ok && left > 0) {
        const std::size_t batch = static_cast<std::size_t>(std::min<std::uint64_t>(left, perBatch));
        ssize_t got = ::pread(file, raw.data(), batch * size, offset);
        if (got != static_cast<ssize_t>(batch * size)) {
            ok = false;
            break;
        }
        offset += got;
        for (std::size_t i = 0; i < batch; ++i) {
            std::uint8_t* prefix = prefixes.data() + 8 * i;
            put32(prefix, packetSequence_++);
            prefix[4] = 0x04;
            prefix[5] = 0;
            put16(prefix + 6, static_cast<std::uint16_t>(size + 8));
            parts[2 * i] = {prefix, 8};
            parts[2 * i + 1] = {raw.data() + i * size, size};
        }
        ok = SendParts(fd, parts.data(), 2 * batch);
        left -= batch;
    }
    ::close(file);
    return ok;
}

bool MmsTestServer::SendParts(int fd, iovec* parts, std::size_t count) {
    while (count > 0) {
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = count;
        ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        auto done = static_cast<std::size_t>(sent);
        while (count > 0 && done >= parts->iov_len) {
            done -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<std::uint8_t*>(parts->iov_base) + done;
            parts->iov_len -= done;
        }
    }
    return true;
}

bool MmsTestServer::SendEnding(int fd) {
    switch (script_.ending) {
        case Ending::EndOfStream:
            return SendAll(fd, ServerCommand(0x1E, serverSequence_++));
        case Ending::Close:
            return false;
        case Ending::Stall:
            return true;
        case Ending::NoSignature: {
            auto packet = ServerCommand(0x1E, serverSequence_++);
            packet[5] = 0x00;
            return SendAll(fd, packet);
        }
        case Ending::UnknownCommand:
            return SendAll(fd, ServerCommand(0x99, serverSequence_++));
        case Ending::HugeCommand: {
            auto packet = ServerCommand(0x1E, serverSequence_++);
            put32(packet.data() + 8, 0x00100000);
            return SendAll(fd, packet);
        }
        case Ending::ShortDataLength: {
            std::vector<std::uint8_t> out;
            appendPrefix(out, packetSequence_++, 0x04, 0);
            put16(out.data() + 6, 4);
            out.insert(out.end(), 64, 0xAB);
            return SendAll(fd, out);
        }
    }
    return false;
}

// Keeps reading (and recording) until the client closes its side.
void MmsTestServer::Drain(int fd) {
    std::uint16_t id = 0;
    while (ReadCommand(fd, &id)) {
    }
}

void MmsTestServer::Session(int fd) {
    if (!Expect(fd, 0x01) || !SendAll(fd, ServerCommand(0x01, serverSequence_++))) {
        return;
    }
    if (script_.refuseFunnel) {
        return;
    }
    if (!Expect(fd, 0x02) || !SendAll(fd, ServerCommand(0x02, serverSequence_++))) {
        return;
    }
    if (!Expect(fd, 0x05)) {
        return;
    }
    std::vector<std::uint8_t> reply;
    if (script_.pingBeforeOpenReply) {
        reply = ServerCommand(0x1B, serverSequence_++);
    }
    auto opened = ServerCommand(0x06, serverSequence_++, std::vector<std::uint8_t>(24, 0));
    reply.insert(reply.end(), opened.begin(), opened.end());
    if (script_.splitOpenReply) {
        std::vector<std::uint8_t> first(reply.begin(), reply.begin() + 20);
        reply.erase(reply.begin(), reply.begin() + 20);
        if (!SendAll(fd, first)) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!SendAll(fd, reply) || !Expect(fd, 0x15)) {
        return;
    }
    if (script_.stallBeforeHeader) {
        Stall(fd);
        return;
    }
    if (!SendAll(fd, ServerCommand(0x11, serverSequence_++)) || !SendHeader(fd)) {
        Drain(fd);
        return;
    }
    if (!Expect(fd, 0x33) || !SendAll(fd, ServerCommand(0x21, serverSequence_++)) ||
        !Expect(fd, 0x07) || !SendAll(fd, ServerCommand(0x05, serverSequence_++))) {
        return;
    }
    const bool sent = script_.packetFile.empty() ? SendPackets(fd) : SendFilePackets(fd);
    if (!sent || !SendEnding(fd)) {
        return;
    }
    if (script_.ending == Ending::Stall) {
        Stall(fd);
        return;
    }
    Drain(fd);
}

MmsTestServer::Script MmsTestServer::Serving(const AsfFixture& fixture) {
    Script script;
    script.header = fixture.header;
    script.packets = fixture.packets;
    return script;
}

MmsTestServer::Script MmsTestServer::Serving(const AsfFixture& fixture, std::size_t packets,
                                             Ending ending) {
    Script script = Serving(fixture);
    script.endAfter = packets;
    script.ending = ending;
    return script;
}
