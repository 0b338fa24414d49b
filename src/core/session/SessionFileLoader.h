#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/session/SecureTrafficReader.h"
#include "core/store/StreamListFile.h"

class MonitorSession;

// Reads one file into a session's list on a thread of its own: a saved list (its records go
// in as rows) or a capture file (detected through the session as `detect --pcap` does, its
// connections on the session's TLS ports read with the secrets of the session's key log file
// and those the capture carries). The rows reach the front end as any detection does, through
// the session's rowsChanged. The front end follows the progress and the end through the
// atomics below; stop() ends the reading early (the rows found so far stay) and joins the
// thread. A download that a saved list kept comes back as complete.
//
// While it runs, the owner must not reset or shut down the session, capture with it, nor change
// its watched ports, TLS settings or suffix table: stop() first.
class SessionFileLoader {
  public:
    struct Result {
        bool failed = false;   // the file could not be read to its end (error)
        bool stopped = false;  // stop() came first
        std::string error;     // Japanese, why it failed or the first skipped record
        std::uint64_t rowsAdded = 0;
        std::uint64_t skipped = 0;           // records of a list that were refused
        std::uint64_t firstSkippedLine = 0;  // the line of the first of them
        // The encrypted connections of a capture; empty when it had none.
        SecureTrafficReader::Summary secure;
        std::string keyLogError;  // Japanese, why the key log file could not be read
    };

    SessionFileLoader(MonitorSession& session, std::string path, StreamListFile::Kind kind);
    // Stops and joins.
    ~SessionFileLoader();
    SessionFileLoader(const SessionFileLoader&) = delete;
    SessionFileLoader& operator=(const SessionFileLoader&) = delete;

    // Starts the reading thread.
    void start();
    // Asks the thread to end and joins it; safe to call more than once.
    void stop();

    bool finished() const { return finished_.load(std::memory_order_acquire); }
    std::uint64_t bytesDone() const { return bytesDone_.load(std::memory_order_relaxed); }
    std::uint64_t bytesTotal() const { return bytesTotal_; }
    // Valid once finished().
    const Result& result() const { return result_; }

  private:
    void run();
    void readList();
    void readCapture();
    std::shared_ptr<KeyLog> readSecrets();
    // The last connections of the capture end: their requests are listed, the secrets dropped.
    void finishSecure();

    MonitorSession& session_;
    std::string path_;
    StreamListFile::Kind kind_;
    std::uint64_t bytesTotal_ = 0;
    std::atomic<std::uint64_t> bytesDone_{0};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> finished_{false};
    Result result_;
    bool readSecure_ = false;  // a datagram on a TLS port was read
    std::thread thread_;
};
