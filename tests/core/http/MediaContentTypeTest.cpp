#include "core/http/MediaContentType.h"

#include <gtest/gtest.h>

TEST(MediaContentType, NamesMediaTypesByTheirEssence) {
    const struct {
        const char* contentType;
        const char* typeName;  // nullptr: not media
        const char* suffix;
    } cases[] = {
        {"application/vnd.apple.mpegurl", "HLS Playlist", ".m3u8"},
        {"Application/X-MpegURL; charset=UTF-8", "HLS Playlist", ".m3u8"},
        {"audio/mpegurl", "HLS Playlist", ".m3u8"},
        {"audio/x-mpegurl", "HLS Playlist", ".m3u8"},
        {"application/dash+xml", "DASH Manifest", ".mpd"},
        {"  video/mp4 ;codecs=\"avc1\"", "MPEG-4 Video", ".mp4"},
        {"VIDEO/WEBM", "WebM Video", ".webm"},
        {"video/MP2T", "MPEG-TS Video", ".ts"},
        {"video/x-flv", "Flash Video", ".flv"},
        {"video/x-ms-wmv", "Video", ""},
        {"audio/mp4", "MPEG-4 Audio", ".m4a"},
        {"audio/mpeg", "MPEG Audio", ".mp3"},
        {"audio/x-aac", "AAC Audio", ".aac"},
        {"audio/ogg; codecs=opus", "Ogg Audio", ".ogg"},
        {"audio/x-flac", "FLAC Audio", ".flac"},
        {"audio/opus", "Opus Audio", ".opus"},
        {"audio/basic", "Audio", ""},
        {"text/html; charset=utf-8", nullptr, nullptr},
        {"application/x-mpegurl-not", nullptr, nullptr},
        {"application/mp4", nullptr, nullptr},
        {"video/", nullptr, nullptr},
        {"/mp4", nullptr, nullptr},
        {"video", nullptr, nullptr},
        {"", nullptr, nullptr},
        {"video/mp4xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", nullptr,
         nullptr},
    };
    for (const auto& c : cases) {
        const auto media = MediaContentType::of(c.contentType);
        ASSERT_EQ(media.has_value(), c.typeName != nullptr) << c.contentType;
        if (media) {
            EXPECT_EQ(media->typeName, c.typeName) << c.contentType;
            EXPECT_EQ(media->suffix, c.suffix) << c.contentType;
        }
    }
}
