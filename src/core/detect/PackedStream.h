#pragma once

#include <cstddef>
#include <cstdint>

#include "core/detect/DetectedStream.h"
#include "core/detect/StreamFields.h"

// A detected stream packed for handing to another thread: the header fields, then the texts
// one after the other, then the adapter bytes and IPv6 addresses only when they are not zero.
// A few cache lines where a DetectedStream spreads the same over several kilobytes.
// Lives in a buffer of its own making (pack()); trivially copyable, never moved.
class PackedStream {
  public:
    // The most bytes a packed stream takes; every size is a multiple of kAlignment.
    static std::size_t maxSize();
    static constexpr std::size_t kAlignment = 8;

    // Packs `fields` at `at` (kAlignment-aligned, maxSize() bytes free); its texts must fit
    // the record's fields, as those of a decoded record do.
    static const PackedStream& pack(const StreamFields& fields, void* at);

    // Bytes this one takes, up to the next one packed behind it.
    std::size_t size() const { return size_; }
    // Views into this packed stream.
    StreamFields fields() const;
    // The full record: detection fields as packed, bookkeeping zero, texts terminated.
    void unpack(DetectedStream& out) const;

  private:
    enum Text {
        kSuffix,
        kScheme,
        kHost,
        kTypeName,
        kPath,
        kQuery,
        kReferer,
        kUserAgent,
        kCookie,
        kHttpVersion,
        kServerName
    };
    static constexpr int kTexts = kServerName + 1;
    enum Flag : std::uint8_t { kAdapterBytes = 1, kAddresses6 = 2 };

    PackedStream() = default;
    const char* tail() const { return reinterpret_cast<const char*>(this + 1); }

    std::uint64_t kindKey_;
    std::uint8_t header_[StreamFields::kHeaderBytes];
    std::uint32_t size_;
    std::uint16_t lengths_[kTexts];
    std::uint8_t flags_;
};
