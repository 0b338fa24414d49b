#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "RecordingStreamList.h"
#include "TestDownloadHost.h"
#include "core/detect/DetectedStream.h"
#include "core/download/DownloadMessages.h"
#include "core/download/DownloadStarter.h"
#include "core/download/DownloadWorker.h"
#include "core/download/common/RecordText.h"
#include "core/download/record/RecordMessages.h"
#include "core/download/record/RecordSaveChoice.h"
#include "support/CaseName.h"
#include "support/ScriptServer.h"

namespace {

using Kind = DownloadOutcome::Kind;
namespace fs = std::filesystem;

// The fixture servers: playlists made by ffmpeg, and GStreamer's RTSP server.
enum class Server { kMedia, kRtsp, kRtspLogin, kRtspEnds, kRtspSilent };

struct RecordCase {
    const char* name;
    Server server;
    const char* path;
    const char* suffix;  // of the target, which names the container
    double abortAfter;   // stopped: a kept (live) one once it holds this many media seconds,
                         // another once under way; < 0: left to end by itself
    long stallSeconds;
    bool answerLogin;
    Kind kind;
    const char* message;  // the template of the message shown; nullptr: none
    bool kept;            // the target is the recording; otherwise its old bytes stay
    const char* codecs;   // of the recording, in stream order
    int width;            // of its video; 0 unchecked
    double videoSeconds;  // the source's length, matched within two frames; 0 unchecked
    double minSeconds;    // a live recording holds at least this much
};

constexpr double kTwoFrames = 2.0 / 25;

// clang-format off
const RecordCase kCases[] = {
    {"HlsVodToMp4", Server::kMedia, "/vod/index.m3u8", ".mp4", -1, 20, false,
     Kind::kCompleted, nullptr, true, "h264,aac", 160, 6.0, 0},
    {"HlsVodToMkv", Server::kMedia, "/vod/index.m3u8", ".mkv", -1, 20, false,
     Kind::kCompleted, nullptr, true, "h264,aac", 160, 6.0, 0},
    {"HlsVodToTs", Server::kMedia, "/vod/index.m3u8", ".ts", -1, 20, false,
     Kind::kCompleted, nullptr, true, "h264,aac", 160, 0, 5.9},
    {"PlaylistKnownByItsType", Server::kMedia, "/vod/playlist", ".mp4", -1, 20, false,
     Kind::kCompleted, nullptr, true, "h264,aac", 160, 6.0, 0},
    {"UnknownSuffixGetsMatroska", Server::kMedia, "/vod/index.m3u8", ".m3u8", -1, 20, false,
     Kind::kCompleted, nullptr, true, "h264,aac", 160, 6.0, 0},
    {"HlsAes128IsRecorded", Server::kMedia, "/aes/index.m3u8", ".mp4", -1, 20, false,
     Kind::kCompleted, nullptr, true, "h264,aac", 160, 6.0, 0},
    {"HlsMasterTakesBestVariant", Server::kMedia, "/master.m3u8", ".mp4", -1, 20, false,
     Kind::kCompleted, nullptr, true, "h264,aac", 320, 6.0, 0},
    {"DashVodToMp4", Server::kMedia, "/dash/manifest.mpd", ".mp4", -1, 20, false,
     Kind::kCompleted, nullptr, true, "h264,aac", 160, 6.0, 0},
    {"HlsVodAbortIsCancel", Server::kMedia, "/slow/vod/index.m3u8", ".mp4", 1.5, 20, false,
     Kind::kCancelled, nullptr, false, "", 0, 0, 0},
    {"HlsFailingSegment", Server::kMedia, "/failseg/vod/index.m3u8", ".mp4", -1, 20, false,
     Kind::kFailed, RecordMessages::kSegmentFailed, false, "", 0, 0, 0},
    {"HlsSegmentCutShort", Server::kMedia, "/cutseg/vod/index.m3u8", ".mp4", -1, 20, false,
     Kind::kFailed, RecordMessages::kSegmentFailed, false, "", 0, 0, 0},
    {"HlsDrmKey", Server::kMedia, "/drm/index.m3u8", ".mp4", -1, 20, false,
     Kind::kFailed, RecordMessages::kProtected, false, "", 0, 0, 0},
    {"DashContentProtection", Server::kMedia, "/drm/manifest.mpd", ".mp4", -1, 20, false,
     Kind::kFailed, RecordMessages::kProtected, false, "", 0, 0, 0},
    {"NotAPlaylist", Server::kMedia, "/page/index.m3u8", ".mp4", -1, 20, false,
     Kind::kFailed, RecordMessages::kNotPlaylist, false, "", 0, 0, 0},
    {"PlaylistNotFound", Server::kMedia, "/none/index.m3u8", ".mp4", -1, 20, false,
     Kind::kFailed, DownloadMessages::kBadStatus, false, "", 0, 0, 0},
    {"HlsLiveStopIsEnd", Server::kMedia, "/live/index.m3u8", ".mkv", 3, 20, false,
     Kind::kCompleted, nullptr, true, "h264,aac", 160, 0, 2},
    {"HlsLiveStallKeepsRecording", Server::kMedia, "/freeze/live/index.m3u8", ".mkv", -1, 3,
     false, Kind::kCompleted, RecordMessages::kStalled, true, "h264,aac", 160, 0, 1},
    {"RtspStopIsEnd", Server::kRtsp, "/live", ".mkv", 2, 20, false,
     Kind::kCompleted, nullptr, true, "h264,opus", 160, 0, 1},
    {"RtspStopIntoMp4", Server::kRtsp, "/live", ".mp4", 2, 20, false,
     Kind::kCompleted, nullptr, true, "h264,opus", 160, 0, 1},
    {"RtspLoginAsked", Server::kRtspLogin, "/live", ".mkv", 2, 20, true,
     Kind::kCompleted, nullptr, true, "h264,opus", 160, 0, 1},
    {"RtspLoginRefused", Server::kRtspLogin, "/live", ".mkv", -1, 20, false,
     Kind::kFailed, DownloadMessages::kBadStatus, false, "", 0, 0, 0},
    {"RtspServerEnds", Server::kRtspEnds, "/live", ".mkv", -1, 20, false,
     Kind::kCompleted, RecordMessages::kServerClosed, true, "h264,opus", 160, 0, 0.5},
    {"RtspStall", Server::kRtspSilent, "/live", ".mkv", -1, 3, false,
     Kind::kCompleted, RecordMessages::kStalled, true, "h264,opus", 160, 0, 0.5},
};
// clang-format on

bool Runs(const char* command) {
    return std::system(command) == 0;
}

std::string Output(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return text;
    }
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) {
        text.append(buffer, n);
    }
    pclose(pipe);
    return text;
}

// What ffprobe says of a recording: codecs in stream order, the video's width and length.
struct Probe {
    std::string codecs;
    int width = 0;
    double videoSeconds = 0;
    double seconds = 0;
};

Probe ProbeFile(const std::string& file) {
    std::istringstream lines(
        Output("ffprobe -v error -show_entries stream=index,codec_type,codec_name,width,duration:"
               "format=duration -of compact=p=0 '" +
               file + "'"));
    Probe probe;
    std::set<std::string> seen;  // a program lists its streams once more
    for (std::string line; std::getline(lines, line);) {
        auto field = [&](const char* name) {
            std::string key = std::string(name) + "=";
            std::size_t at = line.find(key);
            if (at == std::string::npos) {
                return std::string();
            }
            std::size_t end = line.find('|', at);
            return line.substr(at + key.size(),
                               end == std::string::npos ? end : end - at - key.size());
        };
        if (line.find("codec_name=") != std::string::npos && seen.insert(field("index")).second) {
            probe.codecs += (probe.codecs.empty() ? "" : ",") + field("codec_name");
            if (field("codec_type") == "video") {
                probe.width = std::atoi(field("width").c_str());
                probe.videoSeconds = std::atof(field("duration").c_str());
            }
        } else if (line.starts_with("duration=")) {
            probe.seconds = std::atof(field("duration").c_str());
        }
    }
    // Matroska keeps no length per stream: the file's stands for it.
    if (probe.videoSeconds == 0) {
        probe.videoSeconds = probe.seconds;
    }
    return probe;
}

// Decodes the whole file: anything the decoder complains of is returned.
std::string DecodeErrors(const std::string& file) {
    return Output("ffmpeg -nostdin -v error -i '" + file + "' -f null - 2>&1");
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

class RecordDownloadTest : public ::testing::TestWithParam<RecordCase> {
  protected:
    void SetUp() override {
        if (!Runs("ffmpeg -version >/dev/null 2>&1 && ffprobe -version >/dev/null 2>&1")) {
            GTEST_SKIP() << "ffmpeg and ffprobe are not installed";
        }
        if (GetParam().server != Server::kMedia &&
            !Runs("/usr/bin/python3 -c \"import gi; gi.require_version('GstRtspServer', '1.0'); "
                  "from gi.repository import GstRtspServer\" 2>/dev/null")) {
            GTEST_SKIP() << "GStreamer's RTSP server for python3 is not installed";
        }
        std::string pattern = (fs::temp_directory_path() / "quorvex-record-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }

    void TearDown() override {
        std::error_code ignored;
        if (!dir_.empty()) {
            fs::remove_all(dir_, ignored);
        }
    }

    std::unique_ptr<ScriptServer> StartServer(Server server) {
        const char* python = "/usr/bin/python3";
        switch (server) {
            case Server::kMedia:
                fs::create_directory(dir_ / "media");
                return std::make_unique<ScriptServer>(
                    python, "media_fixture.py",
                    std::vector<std::string>{"110", (dir_ / "media").string()});
            case Server::kRtsp:
                return std::make_unique<ScriptServer>(python, "rtsp_fixture.py",
                                                      std::vector<std::string>{"60"});
            case Server::kRtspLogin:
                return std::make_unique<ScriptServer>(
                    python, "rtsp_fixture.py",
                    std::vector<std::string>{"60", "--auth", "user:secret"});
            case Server::kRtspEnds:
                return std::make_unique<ScriptServer>(
                    python, "rtsp_fixture.py", std::vector<std::string>{"60", "--end-after", "6"});
            case Server::kRtspSilent:
                return std::make_unique<ScriptServer>(
                    python, "rtsp_fixture.py",
                    std::vector<std::string>{"60", "--silent-after", "6"});
        }
        return nullptr;
    }

    fs::path dir_;
};

TEST_P(RecordDownloadTest, RecordsAsTheTableSays) {
    const RecordCase& c = GetParam();
    auto server = StartServer(c.server);
    ASSERT_TRUE(server && server->running());
    const bool rtsp = c.server != Server::kMedia;

    auto record = std::make_unique<DetectedStream>();
    std::memset(record.get(), 0, sizeof(DetectedStream));
    std::string scheme = rtsp ? "rtsp" : "http";
    SetRecordText(record->scheme, scheme);
    SetRecordText(record->host, scheme + "://127.0.0.1:" + std::to_string(server->port()));
    SetRecordText(record->path, c.path);

    const fs::path target = dir_ / (std::string("out") + c.suffix);
    std::ofstream(target) << "old";
    TestDownloadHost host;
    if (c.answerLogin) {
        host.answer = DownloadHost::Credentials{"user", "secret"};
    }
    RecordingStreamList list;
    HttpDownloadOptions options;
    options.stallSeconds = c.stallSeconds;
    DownloadStarter starter(host, options);
    host.rows = &list;
    std::unique_ptr<DownloadWorker> worker = starter.Start(*record, target.string());
    ASSERT_TRUE(worker);
    if (c.abortAfter >= 0) {
        // A live recording is stopped once it holds that much media, however slow the library
        // is to join the stream; one with an end once it is under way.
        using Refresh = RecordingStreamList::Refresh;
        ASSERT_TRUE(list.waitFor(record.get(), [&c](const Refresh& refresh) {
            return c.kept ? refresh.mediaSeconds >= c.abortAfter : refresh.progress.ends_with("%");
        }));
        worker->Cancel();
    }
    ASSERT_TRUE(host.waitEnded(1, std::chrono::seconds(90)));
    worker.reset();

    const DownloadOutcome outcome = host.outcomes().at(0);
    EXPECT_EQ(outcome.kind, c.kind) << outcome.message << " / " << outcome.detail;
    if (c.message != nullptr) {
        EXPECT_EQ(outcome.message, DownloadMessages::Fill(c.message, outcome.code));
    } else {
        EXPECT_EQ(outcome.message, "") << outcome.detail;
    }
    EXPECT_EQ(host.ended().size(), 1u);
    // Nothing is left beside the target.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()),
              c.server == Server::kMedia ? 2 : 1);
    if (!c.kept) {
        EXPECT_EQ(ReadFile(target), "old");
        return;
    }
    EXPECT_EQ(list.last(record.get()).progress, "完了");
    const Probe probe = ProbeFile(target.string());
    EXPECT_EQ(probe.codecs, c.codecs);
    if (c.width != 0) {
        EXPECT_EQ(probe.width, c.width);
    }
    if (c.videoSeconds > 0) {
        EXPECT_NEAR(probe.videoSeconds, c.videoSeconds, kTwoFrames);
    }
    EXPECT_GE(probe.seconds, c.minSeconds);
    EXPECT_EQ(DecodeErrors(target.string()), "");
}

// A playlist with an end is proposed as MP4, anything that may run on as Matroska.
TEST(RecordSaveChoiceTest, AsksThePlaylistWhetherItEnds) {
    if (!Runs("ffmpeg -version >/dev/null 2>&1")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    std::string dir = (fs::temp_directory_path() / "quorvex-choice-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    ScriptServer server("/usr/bin/python3", "media_fixture.py", {"60", dir});
    ASSERT_TRUE(server.running());
    struct Row {
        const char* path;
        const char* suffix;
    } rows[] = {{"/vod/index.m3u8", ".mp4"},
                {"/master.m3u8", ".mp4"},
                {"/dash/manifest.mpd", ".mp4"},
                {"/page/index.m3u8", ".mkv"}};
    for (const Row& row : rows) {
        auto record = std::make_unique<DetectedStream>();
        std::memset(record.get(), 0, sizeof(DetectedStream));
        SetRecordText(record->scheme, "http");
        SetRecordText(record->host, "127.0.0.1:" + std::to_string(server.port()));
        SetRecordText(record->path, row.path);
        auto choice = RecordSaveChoice::For(*record, 10);
        ASSERT_TRUE(choice) << row.path;
        EXPECT_EQ(choice->suffix, row.suffix) << row.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RecordDownloadTest, ::testing::ValuesIn(kCases), CaseName{});

}  // namespace
