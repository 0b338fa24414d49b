#include "core/detect/StreamFields.h"

#include <algorithm>
#include <cstring>

namespace {

template <std::size_t N>
std::string_view text(const char (&field)[N]) {
    return std::string_view(field, strnlen(field, N - 1));
}

// Through memmove: a text may already be where it goes.
template <std::size_t N>
void copyTerminated(char (&field)[N], std::string_view text) {
    const std::size_t size = std::min(text.size(), N - 1);
    if (size != 0) {  // an empty view may have no data at all
        std::memmove(field, text.data(), size);
    }
    field[size] = '\0';
}

}  // namespace

StreamFields StreamFields::of(const DetectedStream& record) {
    StreamFields fields;
    fields.header = reinterpret_cast<const std::uint8_t*>(&record);
    fields.suffix = text(record.suffix);
    fields.scheme = text(record.scheme);
    fields.host = text(record.host);
    fields.typeName = text(record.typeName);
    fields.path = text(record.path);
    fields.query = text(record.query);
    fields.referer = text(record.referer);
    fields.userAgent = text(record.userAgent);
    fields.cookie = text(record.cookie);
    fields.httpVersion = text(record.httpVersion);
    fields.serverName = text(record.serverName);
    fields.adapterInfo = record.adapterInfo;
    fields.srcAddr6 = record.srcAddr6;
    fields.dstAddr6 = record.dstAddr6;
    return fields;
}

void StreamFields::fill(DetectedStream& out) const {
    std::memmove(&out, header, kHeaderBytes);
    std::memset(reinterpret_cast<char*>(&out) + kHeaderBytes, 0,
                offsetof(DetectedStream, suffix) - kHeaderBytes);
    copyTerminated(out.suffix, suffix);
    copyTerminated(out.scheme, scheme);
    copyTerminated(out.host, host);
    copyTerminated(out.typeName, typeName);
    copyTerminated(out.path, path);
    copyTerminated(out.query, query);
    copyTerminated(out.referer, referer);
    copyTerminated(out.userAgent, userAgent);
    copyTerminated(out.cookie, cookie);
    copyTerminated(out.httpVersion, httpVersion);
    copyTerminated(out.serverName, serverName);
    out.localFile[0] = '\0';
    std::memmove(out.adapterInfo, adapterInfo, sizeof out.adapterInfo);
    std::memmove(out.srcAddr6, srcAddr6, sizeof out.srcAddr6);
    std::memmove(out.dstAddr6, dstAddr6, sizeof out.dstAddr6);
}
