#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "core/download/DownloadHost.h"

class StreamList;

// The command line's host of one download: messages go to stderr as lines, a login comes from
// --user/--password or, when stdin is a terminal, from a prompt there; otherwise none is given.
// The end of the download is signalled on a pipe that the main loop polls; its outcome is kept.
// Its progress goes to `rows` when given.
class TerminalDownloadHost : public DownloadHost {
  public:
    explicit TerminalDownloadHost(std::optional<Credentials> given, StreamList* rows = nullptr);
    ~TerminalDownloadHost() override;

    TerminalDownloadHost(const TerminalDownloadHost&) = delete;
    TerminalDownloadHost& operator=(const TerminalDownloadHost&) = delete;

    bool ok() const { return endedRead_ >= 0 && interruptRead_ >= 0; }

    void showMessage(const std::string& text) override;
    bool askLogin(const LoginRequest& request, Credentials& out) override;
    void showTransfer(const DetectedStream& record, const TransferProgress& progress) override;
    void downloadEnded(DetectedStream* record, const DownloadOutcome& outcome) override;

    // Readable once downloadEnded has been called.
    int endedFd() const { return endedRead_; }
    bool ended() const { return ended_.load(); }
    // How the download ended; none while it runs or when it never started.
    std::optional<DownloadOutcome> outcome() const;
    // The line that introduces the login prompt; the server's texts in it are escaped.
    static std::string loginPromptLine(const LoginRequest& request);
    // Ends a terminal prompt that is waiting for input (after SIGINT/SIGTERM).
    void interrupt();

  private:
    bool prompt(const char* label, bool echo, std::string& line);
    bool readLine(std::string& line);

    std::optional<Credentials> given_;
    StreamList* rows_;
    mutable std::mutex mutex_;  // guards outcome_, set on the worker's thread
    std::optional<DownloadOutcome> outcome_;
    std::atomic<bool> ended_{false};
    std::atomic<bool> interrupted_{false};
    int endedRead_ = -1;
    int endedWrite_ = -1;
    int interruptRead_ = -1;
    int interruptWrite_ = -1;
};
