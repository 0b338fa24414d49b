#include "core/tls/KeyLog.h"

#include <openssl/crypto.h>

#include <array>

#include "core/detect/HexDigit.h"

namespace {

// Entries looked at when connections without a named entry look for theirs.
constexpr std::size_t kRecentScan = 256;

struct LabelInfo {
    std::string_view label;
    SecretBytes KeyLogSecrets::*field;
    std::size_t minSize;  // 48 bytes for a master secret; 32 or 48 (the suite's hash) otherwise
    std::size_t maxSize;
};

constexpr std::array<LabelInfo, 5> kLabels = {{
    {"CLIENT_RANDOM", &KeyLogSecrets::masterSecret, 48, 48},
    {"CLIENT_HANDSHAKE_TRAFFIC_SECRET", &KeyLogSecrets::clientHandshakeTraffic, 32, 48},
    {"SERVER_HANDSHAKE_TRAFFIC_SECRET", &KeyLogSecrets::serverHandshakeTraffic, 32, 48},
    {"CLIENT_TRAFFIC_SECRET_0", &KeyLogSecrets::clientTraffic0, 32, 48},
    {"SERVER_TRAFFIC_SECRET_0", &KeyLogSecrets::serverTraffic0, 32, 48},
}};

const LabelInfo* findLabel(std::string_view label) {
    for (const LabelInfo& info : kLabels) {
        if (info.label == label) {
            return &info;
        }
    }
    return nullptr;
}

// `hex` must be exactly twice as long as `out`.
bool decodeHex(std::string_view hex, std::span<std::uint8_t> out) {
    if (hex.size() != out.size() * 2) {
        return false;
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        int high = HexDigitValue(hex[2 * i]);
        int low = HexDigitValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The next blank-separated field of `rest`, removed from it; empty at the end.
std::string_view nextField(std::string_view& rest) {
    std::size_t start = 0;
    while (start < rest.size() && isBlank(rest[start])) {
        ++start;
    }
    std::size_t end = start;
    while (end < rest.size() && !isBlank(rest[end])) {
        ++end;
    }
    std::string_view field = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return field;
}

}  // namespace

KeyLog::KeyLog(std::size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {
    // Reserved once, so that a growing line never leaves an unwiped copy behind.
    partial_.reserve(kMaxLineLength);
}

KeyLog::~KeyLog() {
    clearPartial();
}

void KeyLog::addText(std::string_view text) {
    std::lock_guard lock(mutex_);
    const std::uint64_t addedBefore = counts_.added;
    while (!text.empty()) {
        std::size_t newline = text.find('\n');
        bool complete = newline != std::string_view::npos;
        std::string_view piece = text.substr(0, newline);
        text = complete ? text.substr(newline + 1) : std::string_view{};
        if (skippingLine_) {
            skippingLine_ = !complete;
            continue;
        }
        if (partial_.empty() && complete) {
            takeLine(piece);
            continue;
        }
        if (partial_.size() + piece.size() > kMaxLineLength) {
            clearPartial();
            ++counts_.malformed;
            skippingLine_ = !complete;
            continue;
        }
        partial_.append(piece);
        if (complete) {
            takeLine(partial_);
            clearPartial();
        }
    }
    if (counts_.added != addedBefore) {
        generation_.fetch_add(1, std::memory_order_release);
    }
}

void KeyLog::endText() {
    std::lock_guard lock(mutex_);
    const std::uint64_t addedBefore = counts_.added;
    if (!partial_.empty()) {
        takeLine(partial_);
    }
    clearPartial();
    skippingLine_ = false;
    if (counts_.added != addedBefore) {
        generation_.fetch_add(1, std::memory_order_release);
    }
}

void KeyLog::dropPartialLine() {
    std::lock_guard lock(mutex_);
    clearPartial();
    skippingLine_ = false;
}

void KeyLog::clearPartial() {
    OPENSSL_cleanse(partial_.data(), partial_.size());
    partial_.clear();
}

void KeyLog::takeLine(std::string_view line) {
    if (line.size() > kMaxLineLength) {
        ++counts_.malformed;
        return;
    }
    std::string_view rest = line;
    std::string_view label = nextField(rest);
    if (label.empty()) {
        return;  // a blank line says nothing
    }
    if (label.front() == '#' || findLabel(label) == nullptr) {
        ++counts_.ignored;
        return;
    }
    std::string_view randomHex = nextField(rest);
    std::string_view secretHex = nextField(rest);
    bool stored = nextField(rest).empty() && storeSecret(label, randomHex, secretHex);
    ++(stored ? counts_.added : counts_.malformed);
}

bool KeyLog::storeSecret(std::string_view label, std::string_view randomHex,
                         std::string_view secretHex) {
    const LabelInfo& info = *findLabel(label);
    ClientRandom random;
    std::size_t size = secretHex.size() / 2;
    if (!decodeHex(randomHex, random) || size < info.minSize || size > info.maxSize) {
        return false;
    }
    SecretBytes secret;
    if (!decodeHex(secretHex, secret.writable(size))) {
        return false;
    }
    entryFor(random).secrets.*info.field = secret;
    return true;
}

KeyLog::Entry& KeyLog::entryFor(const ClientRandom& random) {
    auto found = entries_.find(random);
    if (found != entries_.end()) {
        return found->second;
    }
    if (entries_.size() >= capacity_) {
        entries_.erase(order_.front());
        order_.pop_front();
    }
    order_.push_back(random);
    return entries_[random];
}

std::optional<KeyLogSecrets> KeyLog::find(const ClientRandom& random) const {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(random);
    if (found == entries_.end()) {
        return std::nullopt;
    }
    return found->second.secrets;
}

std::vector<KeyLog::Candidate> KeyLog::recentUnclaimed(std::size_t maxCount) const {
    std::vector<Candidate> candidates;
    std::lock_guard lock(mutex_);
    std::size_t scanned = 0;
    for (auto it = order_.rbegin();
         it != order_.rend() && scanned < kRecentScan && candidates.size() < maxCount;
         ++it, ++scanned) {
        const Entry& entry = entries_.at(*it);
        if (!entry.claimed) {
            candidates.push_back({*it, entry.secrets});
        }
    }
    return candidates;
}

bool KeyLog::claim(const ClientRandom& random) {
    std::lock_guard lock(mutex_);
    auto found = entries_.find(random);
    if (found == entries_.end() || found->second.claimed) {
        return false;
    }
    found->second.claimed = true;
    return true;
}

KeyLog::Counts KeyLog::counts() const {
    std::lock_guard lock(mutex_);
    return counts_;
}

std::size_t KeyLog::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}
