#include "FixtureServer.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string SupportFile(const char* name) {
    return std::string(QUORVEX_SOURCE_DIR) + "/tests/support/" + name;
}

}  // namespace

std::string FixtureServer::CertificateFile() {
    return SupportFile("fixture-cert.pem");
}

FixtureServer::FixtureServer(int lifetimeSeconds, bool tls, bool ipv6) : tls_(tls), ipv6_(ipv6) {
    std::vector<std::string> arguments{std::to_string(lifetimeSeconds)};
    if (tls) {
        arguments.insert(arguments.end(),
                         {"--tls", CertificateFile(), SupportFile("fixture-key.pem")});
    }
    if (ipv6) {
        arguments.emplace_back("--ipv6");
    }
    std::string log = "/tmp/quorvex-http-requests-XXXXXX";
    int logFd = mkstemp(log.data());
    if (logFd >= 0) {
        close(logFd);
        log_ = log;
        arguments.insert(arguments.end(), {"--log", log_});
    }
    process_ = std::make_unique<ScriptServer>("/usr/bin/python3", "http_fixture.py", arguments);
    port_ = process_->port();
}

FixtureServer::~FixtureServer() {
    process_.reset();  // the server ends before its log goes
    if (!log_.empty()) {
        unlink(log_.c_str());
    }
}

std::vector<std::string> FixtureServer::Requests() const {
    std::ifstream in(log_, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    std::vector<std::string> heads;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find("\r\n\r\n", at);
        end = end == std::string::npos ? text.size() : end + 4;
        heads.push_back(text.substr(at, end - at));
        at = end;
    }
    return heads;
}

std::string FixtureServer::Reply(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string path = "/reply?bytes=";
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_') {
            path += c;
        } else {
            path += '%';
            path += kHex[byte >> 4];
            path += kHex[byte & 15];
        }
    }
    return path;
}

std::string FixtureServer::url(const std::string& path) const {
    return std::string(tls_ ? "https://" : "http://") + (ipv6_ ? "[::1]:" : "127.0.0.1:") +
           std::to_string(port_) + path;
}

std::string FixtureServer::Pattern(std::size_t length) {
    std::string body(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        body[i] = static_cast<char>(i % 251);
    }
    return body;
}
