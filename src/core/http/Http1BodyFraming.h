#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// What an HTTP/1.x head says about the length of the body after it.
class Http1BodyFraming {
  public:
    // Notes a Content-Length or Transfer-Encoding field (names in any case); false for others.
    bool take(std::string_view name, std::string_view value);

    // Content-Length values that do not parse or disagree: the body cannot be found.
    bool contradictory() const { return contradictory_; }
    bool hasTransferEncoding() const { return transferEncoding_; }
    // Chunked is the last transfer coding: only then does the body end by itself.
    bool chunked() const { return chunked_; }
    std::optional<std::uint64_t> length() const { return length_; }

  private:
    void takeLength(std::string_view value);

    std::optional<std::uint64_t> length_;
    bool contradictory_ = false;
    bool transferEncoding_ = false;
    bool chunked_ = false;
};
