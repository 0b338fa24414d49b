#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/detect/DetectedStream.h"

// What detection found of one stream, as views: the record's leading header fields and its
// texts without the empty room behind them. Valid as long as what they view.
struct StreamFields {
    // The IPv4 and TCP header fields that lead a DetectedStream, byte for byte.
    static constexpr std::size_t kHeaderBytes = offsetof(DetectedStream, state);

    const std::uint8_t* header = nullptr;
    std::string_view suffix, scheme, host, typeName, path, query, referer, userAgent, cookie;
    std::string_view httpVersion, serverName;   // of a request read inside TLS
    const std::uint8_t* adapterInfo = nullptr;  // kAdapterInfoSize bytes
    const std::uint8_t* srcAddr6 = nullptr;     // kIpv6AddressSize bytes each
    const std::uint8_t* dstAddr6 = nullptr;
    // Zero bytes for the adapter bytes and IPv6 addresses of a stream that has none.
    static constexpr std::uint8_t kZeroBytes[DetectedStream::kAdapterInfoSize] = {};
    static_assert(DetectedStream::kAdapterInfoSize >= DetectedStream::kIpv6AddressSize);

    // Equal keys other than 0 mean equal suffix, scheme, type name and adapter bytes (the
    // detector's snapshot, suffix row and scheme); 0 when not known.
    std::uint64_t kindKey = 0;

    // The fields of `record`; its texts are measured here.
    static StreamFields of(const DetectedStream& record);

    // Makes `out` the full record of these fields: bookkeeping zero, texts terminated (the
    // bytes behind each left as they were). `out` may be the record they view.
    void fill(DetectedStream& out) const;

    bool isIpv6() const { return (header[0] >> 4) == 6; }
    std::uint32_t srcAddr() const {
        return headerField<std::uint32_t>(offsetof(DetectedStream, srcAddr));
    }
    std::uint32_t dstAddr() const {
        return headerField<std::uint32_t>(offsetof(DetectedStream, dstAddr));
    }
    std::uint16_t srcPort() const {
        return headerField<std::uint16_t>(offsetof(DetectedStream, srcPort));
    }
    std::uint16_t dstPort() const {
        return headerField<std::uint16_t>(offsetof(DetectedStream, dstPort));
    }
    bool hasRequestContext() const {
        return !referer.empty() || !userAgent.empty() || !cookie.empty() || !httpVersion.empty() ||
               !serverName.empty();
    }

  private:
    template <typename T>
    T headerField(std::size_t offset) const {
        T value;
        std::memcpy(&value, header + offset, sizeof value);
        return value;
    }
};
