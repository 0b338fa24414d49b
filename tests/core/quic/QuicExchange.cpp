#include "QuicExchange.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

extern char** environ;

namespace {

// A UDP socket on 127.0.0.1 with a port of its own; -1 on failure.
int loopbackSocket(std::uint16_t& port) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

pid_t spawn(std::vector<std::string> words, const std::vector<std::string>& extraEnv,
            const std::string& directory) {
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envWords(extraEnv);
    for (char** at = environ; *at != nullptr; ++at) {
        envWords.emplace_back(*at);
    }
    std::vector<char*> envp;
    for (std::string& word : envWords) {
        envp.push_back(word.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Everything the pipe holds now.
void drain(int fd, std::string& out) {
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(got));
    }
    OPENSSL_cleanse(buffer, sizeof buffer);
}

// Forwards datagrams both ways until the client exits; returns its wait status.
int relay(int front, int back, std::uint16_t serverPort, int clientExit, int keyPipe,
          QuicExchange& exchange) {
    sockaddr_in client{};
    const sockaddr_in server = loopback(serverPort);
    std::vector<std::uint8_t> buffer(65536);
    pollfd fds[3] = {{front, POLLIN, 0}, {back, POLLIN, 0}, {clientExit, POLLIN, 0}};
    for (bool exited = false; !exited;) {
        if (poll(fds, 3, -1) < 0) {
            return -1;
        }
        exited = (fds[2].revents & POLLIN) != 0;
        for (int i = 0; i < 2; ++i) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            for (ssize_t got;
                 (got = recvfrom(fds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength)) >= 0;
                 fromLength = sizeof from) {
                const bool fromClient = i == 0;
                if (fromClient) {
                    client = from;
                    exchange.clientPort = ntohs(from.sin_port);
                }
                exchange.datagrams.push_back({fromClient, {buffer.begin(), buffer.begin() + got}});
                const sockaddr_in& to = fromClient ? server : client;
                sendto(fromClient ? back : front, buffer.data(), static_cast<std::size_t>(got), 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof to);
            }
        }
        drain(keyPipe, exchange.keyLog);
    }
    drain(keyPipe, exchange.keyLog);
    return 0;
}

}  // namespace

QuicExchange::~QuicExchange() {
    OPENSSL_cleanse(keyLog.data(), keyLog.size());
}

void runQuicExchange(const QuicExchangeOptions& options, QuicExchange& exchange) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / "quorvex-quic-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return;
    }
    const fs::path dir = pattern;
    fs::create_directory(dir / "www");
    std::ofstream(dir / "www" / "clip.bin", std::ios::binary) << options.body;
    const std::string keys = (dir / "keys").string();
    mkfifo(keys.c_str(), 0600);
    // Opened before the client so that its writer never waits for a reader.
    int keyPipe = open(keys.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    std::uint16_t serverPort = 0, frontPort = 0, backPort = 0;
    // The server's port is found free by binding it once; the server takes it over at once.
    int probe = loopbackSocket(serverPort);
    close(probe);
    int front = loopbackSocket(frontPort);
    int back = loopbackSocket(backPort);
    exchange.serverPort = frontPort;
    const std::string support = std::string(QUORVEX_SOURCE_DIR) + "/tests/support/";
    std::vector<std::string> serverWords{"gtlsserver", "-q", "-d", (dir / "www").string()};
    serverWords.insert(serverWords.end(), options.serverArgs.begin(), options.serverArgs.end());
    serverWords.insert(serverWords.end(),
                       {"127.0.0.1", std::to_string(serverPort), support + "fixture-key.pem",
                        support + "fixture-cert.pem"});
    pid_t server = spawn(serverWords, {}, dir.string());

    std::vector<std::string> clientWords{"gtlsclient", "-q", "--exit-on-all-streams-close"};
    clientWords.insert(clientWords.end(), options.clientArgs.begin(), options.clientArgs.end());
    clientWords.insert(clientWords.end(),
                       {"127.0.0.1", std::to_string(frontPort), "https://127.0.0.1/clip.bin"});
    std::vector<std::string> env;
    if (options.keyLog) {
        env.push_back("SSLKEYLOGFILE=" + keys);
    }
    // The relay may start before the server listens: the client sends its Initial again.
    pid_t client = spawn(clientWords, env, dir.string());
    int clientExit = client > 0 ? static_cast<int>(syscall(SYS_pidfd_open, client, 0)) : -1;
    if (server > 0 && client > 0 && front >= 0 && back >= 0 && keyPipe >= 0 && clientExit >= 0) {
        relay(front, back, serverPort, clientExit, keyPipe, exchange);
    }
    int status = -1;
    if (client > 0) {
        waitpid(client, &status, 0);
    }
    exchange.completed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    for (int fd : {front, back, keyPipe, clientExit}) {
        if (fd >= 0) {
            close(fd);
        }
    }
    fs::remove_all(dir);
}
