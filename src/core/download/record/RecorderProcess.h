#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// One run of the recorder program, as its parent holds it: started with an empty environment
// and nothing open but a channel each way (a socket in, a pipe out), /dev/null as standard error
// and the output file as descriptor 3, in a process group of its own; ended by closing its input,
// and, when it does not end by itself in time, killed by its own pid. Always reaped. Used by one
// thread.
class RecorderProcess {
  public:
    struct Exit {
        int status = 0;          // as waitpid gives it
        long peakKilobytes = 0;  // the most memory the recorder held at once
    };

    RecorderProcess();
    // Ends and reaps a recorder still running.
    ~RecorderProcess();

    RecorderProcess(const RecorderProcess&) = delete;
    RecorderProcess& operator=(const RecorderProcess&) = delete;

    // False, with the reason in `failure`, when the program could not be started.
    bool Start(const std::string& program, int outputFd, std::string& failure);

    // Sends `bytes` on the recorder's input; false when it no longer reads.
    bool Send(const std::vector<std::uint8_t>& bytes);
    int Output() const { return fromChild_; }
    // Asks the recorder to stop: the end of its input.
    void CloseInput();

    // Closes the pipes, gives the recorder up to `grace` to end, kills it if it has not, and
    // reaps it.
    Exit End(std::chrono::milliseconds grace);

    // "exit status N" or "signal N", for a message.
    static std::string Describe(int status);

  private:
    bool WaitFor(std::chrono::milliseconds grace);

    pid_t pid_ = -1;
    int pidFd_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
};
