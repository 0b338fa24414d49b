#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/detect/DetectedStream.h"
#include "core/detect/StreamFields.h"
#include "core/store/FieldText.h"

// What many rows share: suffix, scheme, type name and adapter bytes.
struct StreamKind {
    char suffix[DetectedStream::kSuffixCapacity];
    char scheme[DetectedStream::kSchemeCapacity];
    char typeName[DetectedStream::kTypeNameCapacity];
    std::uint8_t adapterInfo[DetectedStream::kAdapterInfoSize];

    static StreamKind of(const StreamFields& r);
    // The kind's bytes, as a key that tells kinds apart.
    std::string_view bytes() const;
    // Sets the kind's fields of `out`.
    void fill(DetectedStream& out) const;

    // Whether of(r) would equal this kind, without making it.
    bool sameAs(const StreamFields& r) const {
        return FieldText::equals(suffix, sizeof suffix, r.suffix) &&
               FieldText::equals(scheme, sizeof scheme, r.scheme) &&
               FieldText::equals(typeName, sizeof typeName, r.typeName) &&
               std::memcmp(adapterInfo, r.adapterInfo, sizeof adapterInfo) == 0;
    }
};
