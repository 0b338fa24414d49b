#include "core/http/MediaContentType.h"

#include <algorithm>
#include <array>

#include "core/http/HttpFieldText.h"

namespace {

struct Row {
    std::string_view type;
    MediaContentType media;
};

constexpr Row kRows[] = {
    {"application/vnd.apple.mpegurl", {"HLS Playlist", ".m3u8"}},
    {"application/mpegurl", {"HLS Playlist", ".m3u8"}},
    {"audio/mpegurl", {"HLS Playlist", ".m3u8"}},
    {"application/dash+xml", {"DASH Manifest", ".mpd"}},
    {"video/mp4", {"MPEG-4 Video", ".mp4"}},
    {"video/webm", {"WebM Video", ".webm"}},
    {"video/mp2t", {"MPEG-TS Video", ".ts"}},
    {"video/quicktime", {"QuickTime Video", ".mov"}},
    {"video/flv", {"Flash Video", ".flv"}},
    {"video/matroska", {"Matroska Video", ".mkv"}},
    {"audio/mp4", {"MPEG-4 Audio", ".m4a"}},
    {"audio/mpeg", {"MPEG Audio", ".mp3"}},
    {"audio/aac", {"AAC Audio", ".aac"}},
    {"audio/ogg", {"Ogg Audio", ".ogg"}},
    {"audio/flac", {"FLAC Audio", ".flac"}},
    {"audio/opus", {"Opus Audio", ".opus"}},
    {"audio/wav", {"WAVE Audio", ".wav"}},
};

constexpr MediaContentType kAnyVideo{"Video", ""};
constexpr MediaContentType kAnyAudio{"Audio", ""};

// Longer than any type worth a row; a longer one is looked at no further.
constexpr std::size_t kLongestType = 64;

std::optional<MediaContentType> row(std::string_view topLevel, std::string_view subtype) {
    const auto found = std::find_if(std::begin(kRows), std::end(kRows), [&](const Row& r) {
        return r.type.size() == topLevel.size() + 1 + subtype.size() &&
               r.type.starts_with(topLevel) && r.type[topLevel.size()] == '/' &&
               r.type.ends_with(subtype);
    });
    return found == std::end(kRows) ? std::nullopt : std::optional(found->media);
}

}  // namespace

std::optional<MediaContentType> MediaContentType::of(std::string_view contentType) {
    const std::string_view essence =
        HttpFieldText::trim(contentType.substr(0, contentType.find(';')));
    const std::size_t slash = essence.find('/');
    if (essence.size() > kLongestType || slash == 0 || slash == std::string_view::npos ||
        slash + 1 == essence.size()) {
        return std::nullopt;
    }
    std::array<char, kLongestType> lower{};
    std::transform(essence.begin(), essence.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    const std::string_view type(lower.data(), essence.size());
    const std::string_view topLevel = type.substr(0, slash);
    const std::string_view subtype = type.substr(slash + 1);
    if (auto media = row(topLevel, subtype)) {
        return media;
    }
    if (subtype.starts_with("x-")) {
        if (auto media = row(topLevel, subtype.substr(2))) {
            return media;
        }
    }
    if (topLevel == "video") {
        return kAnyVideo;
    }
    if (topLevel == "audio") {
        return kAnyAudio;
    }
    return std::nullopt;
}
