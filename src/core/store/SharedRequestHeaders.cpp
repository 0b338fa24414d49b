#include "core/store/SharedRequestHeaders.h"

#include <algorithm>
#include <utility>

#include "core/store/FieldText.h"

std::array<std::string_view, SharedRequestHeaders::kParts> SharedRequestHeaders::partsOf(
    const StreamFields& r) {
    return {r.referer, r.userAgent, r.cookie, r.httpVersion, r.serverName};
}

std::string SharedRequestHeaders::joinedOf(const StreamFields& r) {
    const auto parts = partsOf(r);
    std::size_t size = kParts - 1;
    for (std::string_view part : parts) {
        size += part.size();
    }
    std::string joined;
    joined.reserve(size);
    for (std::size_t i = 0; i < kParts; ++i) {
        if (i != 0) {
            joined.append(1, kSeparator);
        }
        joined.append(parts[i]);
    }
    return joined;
}

bool SharedRequestHeaders::sameAs(const StreamFields& r) const {
    std::string_view text = joined;
    const auto parts = partsOf(r);
    for (std::size_t i = 0; i < kParts; ++i) {
        if (!text.starts_with(parts[i])) {
            return false;
        }
        text.remove_prefix(parts[i].size());
        if (i + 1 < kParts) {
            if (text.empty() || text.front() != kSeparator) {
                return false;
            }
            text.remove_prefix(1);
        }
    }
    return text.empty();
}

void SharedRequestHeaders::fill(DetectedStream& out) const {
    const std::array<std::pair<char*, std::size_t>, kParts> fields = {
        std::pair{out.referer, sizeof out.referer},
        {out.userAgent, sizeof out.userAgent},
        {out.cookie, sizeof out.cookie},
        {out.httpVersion, sizeof out.httpVersion},
        {out.serverName, sizeof out.serverName}};
    std::string_view text = joined;
    for (const auto& [field, capacity] : fields) {
        const std::size_t end = std::min(text.find(kSeparator), text.size());
        FieldText::copy(field, capacity, text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}
