// Feeds arbitrary server bytes to the MMS client: the header gathering and walk, and the
// packet reader with its ping answers, over a local socket pair.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/download/mms/CMmsClient.h"

namespace {

int Sink() {
    static int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    return sink;
}

void RunStream(const std::uint8_t* data, std::size_t size, bool reply) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        return;
    }
    int big = 4 << 20;
    ::setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    ::setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    ::fcntl(pair[1], F_SETFL, O_NONBLOCK);
    // Pongs go back to pair[1]; the client must never block on them, so they may be dropped.
    ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    std::size_t written = 0;
    while (written < size) {
        ssize_t n = ::send(pair[1], data + written, size - written, MSG_NOSIGNAL);
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    ::shutdown(pair[1], SHUT_WR);
    ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) & ~O_NONBLOCK);

    CMmsClient client(pair[0], Sink());
    if (reply && !client.ReadReply()) {
        ::close(pair[0]);
        ::close(pair[1]);
        return;
    }
    std::vector<std::uint8_t> header(CMmsClient::kHeaderCapacity);
    std::size_t length = client.ReadHeader(header.data());
    std::uint32_t packetSize = length > 0 ? client.ParseHeader(header.data(), length) : 0;
    if (packetSize > 0) {
        // Every packet consumes input, so the input bounds the loop; the guard is a backstop.
        for (int guard = 0; guard < 1 << 20 && client.ReadPacket(packetSize) >= 0; ++guard) {
        }
        client.Flush();
    }
    ::close(pair[0]);
    ::close(pair[1]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    switch (data[0] % 3) {
        case 0: {
            CMmsClient client(-1, -1);
            client.ParseHeader(data + 1, size - 1);
            break;
        }
        case 1:
            RunStream(data + 1, size - 1, false);
            break;
        default:
            RunStream(data + 1, size - 1, true);
            break;
    }
    return 0;
}
