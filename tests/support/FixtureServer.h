#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ScriptServer.h"

// The test suite's loopback HTTP server (tests/support/http_fixture.py) in a child process.
// It listens on 127.0.0.1 (::1 with `ipv6`) with a free port and exits by itself after
// `lifetimeSeconds`.
class FixtureServer {
  public:
    explicit FixtureServer(int lifetimeSeconds = 60, bool tls = false, bool ipv6 = false);
    ~FixtureServer();

    FixtureServer(const FixtureServer&) = delete;
    FixtureServer& operator=(const FixtureServer&) = delete;

    bool running() const { return port_ > 0; }
    int port() const { return port_; }
    // "http://127.0.0.1:PORT" (https with TLS, [::1] with IPv6) followed by `path`.
    std::string url(const std::string& path) const;

    // The head of every request received so far (request line and headers with their CRLFs
    // and the empty line), byte for byte, in arrival order.
    std::vector<std::string> Requests() const;

    // The path of a reply scripted byte for byte: the server sends `bytes` and closes.
    static std::string Reply(std::string_view bytes);

    // The body every fixture path sends: byte i is i % 251.
    static std::string Pattern(std::size_t length);
    // The certificate the TLS server presents, usable as the only trusted authority.
    static std::string CertificateFile();

  private:
    std::unique_ptr<ScriptServer> process_;
    int port_ = 0;
    bool tls_ = false;
    bool ipv6_ = false;
    std::string log_;
};
