#include "FixtureServer.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string SupportFile(const char* name) {
    return std::string(QUORVEX_SOURCE_DIR) + "/tests/support/" + name;
}

}  // namespace

std::string FixtureServer::CertificateFile() {
    return SupportFile("fixture-cert.pem");
}

FixtureServer::FixtureServer(int lifetimeSeconds, bool tls, bool ipv6) : tls_(tls), ipv6_(ipv6) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::string script = SupportFile("http_fixture.py");
    std::string lifetime = std::to_string(lifetimeSeconds);
    std::string tlsFlag = "--tls";
    std::string cert = CertificateFile();
    std::string key = SupportFile("fixture-key.pem");
    std::string logFlag = "--log";
    std::string ipv6Flag = "--ipv6";
    std::string log = "/tmp/quorvex-http-requests-XXXXXX";
    int logFd = mkstemp(log.data());
    std::vector<char*> argv{const_cast<char*>("python3"), script.data(), lifetime.data()};
    if (tls) {
        argv.insert(argv.end(), {tlsFlag.data(), cert.data(), key.data()});
    }
    if (ipv6) {
        argv.push_back(ipv6Flag.data());
    }
    if (logFd >= 0) {
        close(logFd);
        log_ = log;
        argv.insert(argv.end(), {logFlag.data(), log_.data()});
    }
    argv.push_back(nullptr);
    int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (rc != 0) {
        pid_ = -1;
        close(pipeFds[0]);
        return;
    }
    FILE* out = fdopen(pipeFds[0], "r");
    int port = 0;
    if (out != nullptr && std::fscanf(out, "PORT %d", &port) == 1) {
        port_ = port;
    }
    if (out != nullptr) {
        std::fclose(out);
    }
}

FixtureServer::~FixtureServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
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
