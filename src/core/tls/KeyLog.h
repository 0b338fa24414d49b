#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/tls/ClientRandom.h"
#include "core/tls/KeyLogSecrets.h"

// The TLS secrets read from key log lines ("LABEL <client random> <secret>", as browsers write
// them to $SSLKEYLOGFILE), by client random. Safe to share between threads: one adds text while
// others look up. Holds at most `capacity` client randoms; the oldest go first. Secrets are
// wiped when dropped and never printed.
class KeyLog {
  public:
    static constexpr std::size_t kDefaultCapacity = 100'000;
    // A line longer than this is no key log line: it is skipped up to its newline.
    static constexpr std::size_t kMaxLineLength = 1024;

    struct Counts {
        std::uint64_t added = 0;      // lines whose secret was taken
        std::uint64_t ignored = 0;    // comments and labels that hold no secret we use
        std::uint64_t malformed = 0;  // known labels with bad fields, overlong lines
    };

    // A recent entry no connection has taken yet (for connections whose ClientHello hides the
    // client random that names them: Encrypted Client Hello).
    struct Candidate {
        ClientRandom random{};
        KeyLogSecrets secrets;
    };

    explicit KeyLog(std::size_t capacity = kDefaultCapacity);
    ~KeyLog();
    KeyLog(const KeyLog&) = delete;
    KeyLog& operator=(const KeyLog&) = delete;

    // Takes any number of lines; a last line without its newline waits for the next call.
    void addText(std::string_view text);
    // The text has ended (a whole file was read): a waiting last line is taken as it is.
    void endText();
    // The source starts over (its file was replaced): a waiting last line is forgotten.
    void dropPartialLine();

    // A copy of what is known for `random`; nullopt when no line named it.
    std::optional<KeyLogSecrets> find(const ClientRandom& random) const;
    // Up to `maxCount` entries not claimed yet, newest first, from the most recent few hundred.
    std::vector<Candidate> recentUnclaimed(std::size_t maxCount) const;
    // Marks the entry as taken by a connection; false when it is gone or was taken already.
    bool claim(const ClientRandom& random);

    // Changes whenever lines were added: a connection waiting for keys tries again.
    std::uint64_t generation() const { return generation_.load(std::memory_order_acquire); }
    Counts counts() const;
    std::size_t size() const;

  private:
    struct Entry {
        KeyLogSecrets secrets;
        bool claimed = false;
    };

    void takeLine(std::string_view line);
    bool storeSecret(std::string_view label, std::string_view randomHex,
                     std::string_view secretHex);
    Entry& entryFor(const ClientRandom& random);
    void clearPartial();

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::unordered_map<ClientRandom, Entry, ClientRandomHash> entries_;
    std::deque<ClientRandom> order_;  // oldest first
    std::string partial_;             // a line still waiting for its newline
    bool skippingLine_ = false;       // inside an overlong line
    Counts counts_;
    std::atomic<std::uint64_t> generation_{0};
};
