#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/detect/DetectedStream.h"
#include "core/detect/StreamFields.h"

// The request headers of a row's latest sighting, kept once for all rows with the same ones
// (most clients send the same User-Agent with every request) and freed with its last row.
// Referer, User-Agent, Cookie, and for a request read inside TLS its HTTP version and server
// name, in one string, each behind a zero byte but the first: header values hold no zero byte.
struct SharedRequestHeaders {
    std::string joined;
    std::uint32_t users = 0;

    // The joined form of the record's headers.
    static std::string joinedOf(const StreamFields& r);
    // Whether joinedOf(r) would equal `joined`, without making it.
    bool sameAs(const StreamFields& r) const;
    // Sets the header fields of `out`.
    void fill(DetectedStream& out) const;

  private:
    static constexpr char kSeparator = '\0';
    static constexpr std::size_t kParts = 5;

    static std::array<std::string_view, kParts> partsOf(const StreamFields& r);
};
