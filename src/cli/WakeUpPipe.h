#pragma once

// Wakes the command's main thread from another thread (the capture thread) through a pipe,
// so the main thread can wait for it and for other descriptors with one poll.
class WakeUpPipe {
  public:
    WakeUpPipe();
    ~WakeUpPipe();
    WakeUpPipe(const WakeUpPipe&) = delete;
    WakeUpPipe& operator=(const WakeUpPipe&) = delete;

    bool ok() const { return readEnd_ >= 0; }

    void notify() const;

    // Waits until notified, `otherFd` (if not -1) is readable, or `timeoutMs` passes (-1: no
    // limit); then drains this pipe.
    void wait(int timeoutMs, int otherFd = -1) const;

  private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
};
