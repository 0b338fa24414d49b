#include "core/detect/PackedStream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

namespace {

constexpr const std::uint8_t* kZeros = StreamFields::kZeroBytes;

bool allZero(const std::uint8_t* bytes, std::size_t size) {
    return std::memcmp(bytes, kZeros, size) == 0;
}

std::size_t aligned(std::size_t size) {
    return (size + PackedStream::kAlignment - 1) & ~(PackedStream::kAlignment - 1);
}

}  // namespace

std::size_t PackedStream::maxSize() {
    constexpr std::size_t texts =
        DetectedStream::kSuffixCapacity + DetectedStream::kSchemeCapacity +
        DetectedStream::kHostCapacity + DetectedStream::kTypeNameCapacity +
        DetectedStream::kPathCapacity + DetectedStream::kQueryCapacity +
        DetectedStream::kRefererCapacity + DetectedStream::kUserAgentCapacity +
        DetectedStream::kCookieCapacity + DetectedStream::kHttpVersionCapacity +
        DetectedStream::kServerNameCapacity;
    return aligned(sizeof(PackedStream) + texts + DetectedStream::kAdapterInfoSize +
                   2 * DetectedStream::kIpv6AddressSize);
}

const PackedStream& PackedStream::pack(const StreamFields& fields, void* at) {
    auto* packed = new (at) PackedStream;
    packed->kindKey_ = fields.kindKey;
    std::memcpy(packed->header_, fields.header, sizeof packed->header_);
    const std::string_view texts[kTexts] = {fields.suffix,      fields.scheme,    fields.host,
                                            fields.typeName,    fields.path,      fields.query,
                                            fields.referer,     fields.userAgent, fields.cookie,
                                            fields.httpVersion, fields.serverName};
    char* out = reinterpret_cast<char*>(packed + 1);
    for (int i = 0; i < kTexts; ++i) {
        packed->lengths_[i] = static_cast<std::uint16_t>(texts[i].size());
        out = std::copy_n(texts[i].data(), texts[i].size(), out);
    }
    packed->flags_ = 0;
    if (!allZero(fields.adapterInfo, DetectedStream::kAdapterInfoSize)) {
        packed->flags_ |= kAdapterBytes;
        std::memcpy(out, fields.adapterInfo, DetectedStream::kAdapterInfoSize);
        out += DetectedStream::kAdapterInfoSize;
    }
    if (fields.isIpv6()) {
        packed->flags_ |= kAddresses6;
        std::memcpy(out, fields.srcAddr6, DetectedStream::kIpv6AddressSize);
        std::memcpy(out + DetectedStream::kIpv6AddressSize, fields.dstAddr6,
                    DetectedStream::kIpv6AddressSize);
        out += 2 * DetectedStream::kIpv6AddressSize;
    }
    packed->size_ = static_cast<std::uint32_t>(aligned(out - reinterpret_cast<char*>(packed)));
    return *packed;
}

StreamFields PackedStream::fields() const {
    StreamFields fields;
    fields.header = header_;
    fields.kindKey = kindKey_;
    const char* at = tail();
    std::string_view* texts[kTexts] = {&fields.suffix,      &fields.scheme,    &fields.host,
                                       &fields.typeName,    &fields.path,      &fields.query,
                                       &fields.referer,     &fields.userAgent, &fields.cookie,
                                       &fields.httpVersion, &fields.serverName};
    for (int i = 0; i < kTexts; ++i) {
        *texts[i] = std::string_view(at, lengths_[i]);
        at += lengths_[i];
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(at);
    fields.adapterInfo = kZeros;
    if ((flags_ & kAdapterBytes) != 0) {
        fields.adapterInfo = bytes;
        bytes += DetectedStream::kAdapterInfoSize;
    }
    fields.srcAddr6 = fields.dstAddr6 = kZeros;
    if ((flags_ & kAddresses6) != 0) {
        fields.srcAddr6 = bytes;
        fields.dstAddr6 = bytes + DetectedStream::kIpv6AddressSize;
    }
    return fields;
}

void PackedStream::unpack(DetectedStream& out) const {
    fields().fill(out);
}
