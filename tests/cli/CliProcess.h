#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// quorvex-cli run as a child with stdin from /dev/null, stdout and stderr captured, and the
// proxy variables of the environment removed so that loopback requests stay direct.
class CliProcess {
  public:
    // With `terminalStdin`, stdin is a pseudo-terminal that WriteInput types into.
    explicit CliProcess(const std::vector<std::string>& args, bool terminalStdin = false);
    ~CliProcess();

    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // The next stdout line, or false at the end of output or after `timeout`.
    bool ReadLine(std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void Signal(int signal);
    void WriteInput(const std::string& text);
    // Reads stderr until it contains `text`; false after `timeout`.
    bool WaitForError(const std::string& text,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Reads the rest of the output and waits for the exit; the exit status, -1 when killed
    // (a command that never exits is killed after a generous guard).
    int Finish();

    const std::vector<std::string>& lines() const { return lines_; }
    const std::string& errors() const { return errors_; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    int terminal_ = -1;
    std::string pending_;
    std::vector<std::string> lines_;
    std::string errors_;
};
