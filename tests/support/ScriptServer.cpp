#include "ScriptServer.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

extern char** environ;

ScriptServer::ScriptServer(const std::string& interpreter, const std::string& script,
                           const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::string path = std::string(QUORVEX_SOURCE_DIR) + "/tests/support/" + script;
    std::vector<std::string> words{interpreter, path};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    int rc = posix_spawnp(&pid_, interpreter.c_str(), &actions, nullptr, argv.data(), environ);
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

ScriptServer::~ScriptServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}
