#include "support/TcpExchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "support/NetnsPair.h"

namespace {

class Socket {
  public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {
        timeval limit{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    ~Socket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Socket& operator=(Socket&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
};

sockaddr_storage serverAddress(std::uint16_t port, bool ipv6, socklen_t& length) {
    sockaddr_storage storage{};
    if (ipv6) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&storage);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(port);
        inet_pton(AF_INET6, NetnsPair::kServerAddress6, &address->sin6_addr);
        length = sizeof *address;
    } else {
        auto* address = reinterpret_cast<sockaddr_in*>(&storage);
        address->sin_family = AF_INET;
        address->sin_port = htons(port);
        inet_pton(AF_INET, NetnsPair::kServerAddress, &address->sin_addr);
        length = sizeof *address;
    }
    return storage;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool receiveAll(int fd, std::size_t length) {
    std::string buffer(4096, '\0');
    while (length > 0) {
        ssize_t got = ::recv(fd, buffer.data(), std::min(buffer.size(), length), 0);
        if (got <= 0) {
            return false;
        }
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

bool TcpExchange(const NetnsPair& pair, std::uint16_t port, std::string_view request,
                 std::string_view response, bool ipv6) {
    Socket listener;
    Socket client;
    socklen_t length = 0;
    sockaddr_storage address = serverAddress(port, ipv6, length);
    const int family = ipv6 ? AF_INET6 : AF_INET;
    pair.RunIn(pair.serverNs(), [&] {
        listener = Socket(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int yes = 1;
        ::setsockopt(listener.fd(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    pair.RunIn(pair.clientNs(),
               [&] { client = Socket(::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0)); });
    if (listener.fd() < 0 || client.fd() < 0 ||
        ::bind(listener.fd(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener.fd(), 1) != 0 ||
        ::connect(client.fd(), reinterpret_cast<sockaddr*>(&address), length) != 0) {
        return false;
    }
    Socket server(::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC));
    return server.fd() >= 0 && sendAll(client.fd(), request) &&
           receiveAll(server.fd(), request.size()) && sendAll(server.fd(), response) &&
           receiveAll(client.fd(), response.size());
}
