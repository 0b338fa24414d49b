#pragma once

// A self-pipe that wakes the command's main thread: from another thread, or from a signal
// handler (Notify only writes one byte, which is async-signal-safe).
class WakeUpPipe {
  public:
    WakeUpPipe();
    ~WakeUpPipe();
    WakeUpPipe(const WakeUpPipe&) = delete;
    WakeUpPipe& operator=(const WakeUpPipe&) = delete;

    bool ok() const { return readEnd_ >= 0; }

    void Notify() const;

    // Waits until notified or `timeoutMs` passes (-1: no limit), then drains the pipe.
    void Wait(int timeoutMs) const;

  private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
};
