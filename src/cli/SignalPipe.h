#pragma once

// Turns SIGINT and SIGTERM into a readable byte on a pipe, so that the main loop notices them
// with poll; the handler itself only writes that byte. One instance at a time.
class SignalPipe {
  public:
    SignalPipe();
    ~SignalPipe();

    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    bool ok() const { return readFd_ >= 0; }
    int fd() const { return readFd_; }
    // Reads away what the handler wrote; true when a signal had arrived.
    bool drain();

  private:
    int readFd_ = -1;
};
