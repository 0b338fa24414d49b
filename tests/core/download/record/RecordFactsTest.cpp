#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "core/detect/DetectedStream.h"
#include "core/download/common/RecordText.h"
#include "core/download/common/TransferText.h"
#include "core/download/record/PlaylistFacts.h"
#include "core/download/record/RecordKind.h"
#include "core/download/record/RecordProgress.h"
#include "core/download/record/RecordSaveChoice.h"

namespace {

TEST(RecordKindsTest, DecideByUrlAndContentType) {
    struct Row {
        const char* scheme;
        const char* path;
        RecordKind kind;
    } rows[] = {
        {"http", "/a/index.m3u8", RecordKind::kHls},
        {"https", "/a/INDEX.M3U8?token=x.mp4", RecordKind::kHls},
        {"http", "/a/manifest.mpd", RecordKind::kDash},
        {"rtsp", "/cam", RecordKind::kRtsp},
        {"RTSP", "/cam.mp4", RecordKind::kRtsp},
        {"http", "/a/video.mp4?list=.m3u8", RecordKind::kNone},
        {"http", "/a/m3u8", RecordKind::kNone},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(RecordKinds::OfUrl(row.scheme, row.path), row.kind) << row.path;
    }
    struct Typed {
        const char* type;
        RecordKind kind;
    } types[] = {
        {"application/vnd.apple.mpegurl", RecordKind::kHls},
        {"Audio/MPEGURL; charset=utf-8", RecordKind::kHls},
        {" application/x-mpegURL", RecordKind::kHls},
        {"application/dash+xml", RecordKind::kDash},
        {"video/mp4", RecordKind::kNone},
        {"", RecordKind::kNone},
    };
    for (const Typed& row : types) {
        EXPECT_EQ(RecordKinds::OfContentType(row.type), row.kind) << row.type;
    }
    EXPECT_STREQ(RecordKinds::ProposedSuffix(false), ".mp4");
    EXPECT_STREQ(RecordKinds::ProposedSuffix(true), ".mkv");
    EXPECT_EQ(RecordKinds::StemOf("/a/index.m3u8?x=1"), "index");
    EXPECT_EQ(RecordKinds::StemOf("/cam/"), "stream");
}

TEST(PlaylistFactsTest, ReadsPlaylistTexts) {
    struct Row {
        RecordKind kind;
        const char* text;
        bool isPlaylist, live, isMaster, isProtected;
        const char* bestVariant;
    } rows[] = {
        {RecordKind::kHls, "#EXTM3U\n#EXTINF:2,\na.ts\n#EXT-X-ENDLIST\n", true, false, false, false,
         ""},
        {RecordKind::kHls, "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:2,\r\na.ts\r\n", true, true, false,
         false, ""},
        {RecordKind::kHls,
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=800,CODECS=\"a,b\"\nhi.m3u8\n"
         "#EXT-X-STREAM-INF:RESOLUTION=1x1,BANDWIDTH=90000\nlow/top.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=x\nbad.m3u8\n",
         true, false, true, false, "low/top.m3u8"},
        {RecordKind::kHls, "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\na.ts\n", true, true,
         false, false, ""},
        {RecordKind::kHls, "#EXTM3U\n#EXT-X-KEY:METHOD=NONE\na.ts\n", true, true, false, false, ""},
        {RecordKind::kHls, "#EXTM3U\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\na.ts\n", true, true,
         false, true, ""},
        {RecordKind::kHls,
         "#EXTM3U\n#EXT-X-SESSION-KEY:METHOD=AES-128,KEYFORMAT=\"urn:uuid:x\",URI=\"k\"\n", true,
         true, false, true, ""},
        {RecordKind::kHls, "<html>#EXTM3U</html>", false, true, false, false, ""},
        {RecordKind::kHls, "", false, false, false, false, ""},
        {RecordKind::kDash, "<?xml?><MPD type=\"static\"><Period/></MPD>", true, false, false,
         false, ""},
        {RecordKind::kDash, "<MPD type=\"dynamic\"><ContentProtection/></MPD>", true, true, false,
         true, ""},
        {RecordKind::kDash, "<MPD type=\"dynamic\"", true, true, false, false, ""},
        {RecordKind::kDash, "<html/>", false, false, false, false, ""},
    };
    for (const Row& row : rows) {
        PlaylistFacts facts = PlaylistFacts::Read(row.kind, row.text);
        EXPECT_EQ(facts.isPlaylist, row.isPlaylist) << row.text;
        if (!row.isPlaylist) {
            continue;
        }
        EXPECT_EQ(facts.live, row.live) << row.text;
        EXPECT_EQ(facts.isMaster, row.isMaster) << row.text;
        EXPECT_EQ(facts.isProtected, row.isProtected) << row.text;
        EXPECT_EQ(facts.bestVariant, row.bestVariant) << row.text;
    }
}

TEST(RecordProgressTest, ShowsPercentWithAnEndAndDurationWhenLive) {
    struct Step {
        std::uint32_t tick;
        std::uint64_t bytes;
        double seconds;
        const char *size, *progress, *time, *rate;
    };
    // Size, percentage and duration follow each report, even one of a burst that comes within
    // the second; time left and rate once a second, live the rate since the start, which goes
    // on while the recorder waits for the next segment. A report that changes nothing shown
    // refreshes nothing.
    struct Row {
        double duration;
        Step steps[4];
        const char* rateWhileWaiting;  // at tick 3800
        std::size_t refreshes;
    } rows[] = {
        {100.0,
         {{500, 1000, 10.0, "1000 Byte", "10%", "", ""},
          {1500, 4096, 25.0, "4.0 KB", "25%", "4 秒", "2.93 KB/S"},
          {1600, 5000, 200.0, "4.9 KB", "99%", "4 秒", "2.93 KB/S"},
          {1700, 5000, 200.0, "4.9 KB", "99%", "4 秒", "2.93 KB/S"}},
         "2.93 KB/S",
         3},
        {0.0,
         {{500, 1000, 10.0, "1000 Byte", "10 秒", "", ""},
          {1500, 2048, 125.0, "2.0 KB", "2分 5秒", "", "1.46 KB/S"},
          {2600, 3072, 130.0, "3.0 KB", "2分 10秒", "", "1.23 KB/S"},
          {2700, 5120, 140.0, "5.0 KB", "2分 20秒", "", "1.23 KB/S"}},
         "1.38 KB/S",
         5},
    };
    for (const Row& row : rows) {
        std::uint32_t now = 100;
        TickSource ticks = [&now] { return now; };
        TransferProgress shown;
        std::size_t refreshes = 0;
        RecordProgress progress(ticks, row.duration);
        for (const Step& step : row.steps) {
            now = step.tick;
            refreshes += progress.Report(step.bytes, step.seconds, shown) ? 1 : 0;
            const TransferText::Columns texts = TransferText::of(shown);
            EXPECT_EQ(texts.size, step.size) << step.tick;
            EXPECT_EQ(texts.progress, step.progress) << step.tick;
            EXPECT_EQ(texts.time, step.time) << step.tick;
            EXPECT_EQ(texts.rate, step.rate) << step.tick;
        }
        now = 3800;
        refreshes += progress.Waiting(shown) ? 1 : 0;
        EXPECT_EQ(TransferText::rate(shown), row.rateWhileWaiting);
        EXPECT_EQ(refreshes, row.refreshes);
    }
}

}  // namespace

namespace {

TEST(RecordSaveChoiceTest, ProposesAContainerOnlyForRecordings) {
    struct Row {
        const char* scheme;
        const char* host;
        const char* path;
        const char* suffix;  // nullptr: not recorded
        const char* fileName;
    } rows[] = {
        {"rtsp", "rtsp://127.0.0.1:1", "/cam/live.sdp", ".mkv", "live.mkv"},
        {"rtsp", "rtsp://127.0.0.1:1", "/", ".mkv", "stream.mkv"},
        {"http", "example.com", "/a/video.mp4", nullptr, ""},
        {"mms", "mms://example.com", "/a.m3u8", nullptr, ""},
        // Nothing answers on port 1: taken as live.
        {"http", "127.0.0.1:1", "/x/.hidden.m3u8?t=1", ".mkv", "hidden.mkv"},
    };
    for (const Row& row : rows) {
        auto record = std::make_unique<DetectedStream>();
        std::memset(record.get(), 0, sizeof(DetectedStream));
        SetRecordText(record->scheme, row.scheme);
        SetRecordText(record->host, row.host);
        SetRecordText(record->path, row.path);
        auto choice = RecordSaveChoice::For(*record, 2);
        ASSERT_EQ(choice.has_value(), row.suffix != nullptr) << row.path;
        if (choice) {
            EXPECT_EQ(choice->suffix, row.suffix);
            EXPECT_EQ(choice->fileName, row.fileName);
        }
    }
}

}  // namespace
