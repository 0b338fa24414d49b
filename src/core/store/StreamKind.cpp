#include "core/store/StreamKind.h"

StreamKind StreamKind::of(const StreamFields& r) {
    StreamKind kind{};
    FieldText::copy(kind.suffix, sizeof kind.suffix, r.suffix);
    FieldText::copy(kind.scheme, sizeof kind.scheme, r.scheme);
    FieldText::copy(kind.typeName, sizeof kind.typeName, r.typeName);
    std::memcpy(kind.adapterInfo, r.adapterInfo, sizeof kind.adapterInfo);
    return kind;
}

std::string_view StreamKind::bytes() const {
    return std::string_view(reinterpret_cast<const char*>(this), sizeof *this);
}

void StreamKind::fill(DetectedStream& out) const {
    std::memcpy(out.suffix, suffix, sizeof out.suffix);
    std::memcpy(out.scheme, scheme, sizeof out.scheme);
    std::memcpy(out.typeName, typeName, sizeof out.typeName);
    std::memcpy(out.adapterInfo, adapterInfo, sizeof out.adapterInfo);
}
