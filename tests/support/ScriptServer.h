#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// A test server written as a script (tests/support/NAME) in a child process that prints
// "PORT <n>" once it serves on 127.0.0.1; ended with SIGTERM and reaped on destruction.
// The interpreter is looked up in PATH unless it names a path.
class ScriptServer {
  public:
    ScriptServer(const std::string& interpreter, const std::string& script,
                 const std::vector<std::string>& arguments);
    ~ScriptServer();

    ScriptServer(const ScriptServer&) = delete;
    ScriptServer& operator=(const ScriptServer&) = delete;

    bool running() const { return port_ > 0; }
    int port() const { return port_; }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};
