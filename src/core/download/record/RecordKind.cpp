#include "core/download/record/RecordKind.h"

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

namespace RecordKinds {

RecordKind OfUrl(std::string_view scheme, std::string_view path) {
    if (EqualsNoCase(scheme, "rtsp")) {
        return RecordKind::kRtsp;
    }
    path = path.substr(0, path.find_first_of("?#"));
    if (EndsWithNoCase(path, ".m3u8")) {
        return RecordKind::kHls;
    }
    if (EndsWithNoCase(path, ".mpd")) {
        return RecordKind::kDash;
    }
    return RecordKind::kNone;
}

RecordKind OfContentType(std::string_view contentType) {
    std::string_view type = TrimSpaces(contentType.substr(0, contentType.find(';')));
    for (std::string_view hls : {"application/vnd.apple.mpegurl", "application/x-mpegurl",
                                 "audio/mpegurl", "audio/x-mpegurl"}) {
        if (EqualsNoCase(type, hls)) {
            return RecordKind::kHls;
        }
    }
    return EqualsNoCase(type, "application/dash+xml") ? RecordKind::kDash : RecordKind::kNone;
}

const char* ProposedSuffix(bool live) {
    return live ? ".mkv" : ".mp4";
}

std::string_view StemOf(std::string_view path) {
    path = path.substr(0, path.find_first_of("?#"));
    std::string_view name = path.substr(path.find_last_of('/') + 1);
    std::size_t dot = name.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0) {
        name = name.substr(0, dot);
    }
    return name.empty() ? std::string_view("stream") : name;
}

}  // namespace RecordKinds
