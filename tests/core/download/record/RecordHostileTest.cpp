#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "RecordingStreamList.h"
#include "TestDownloadHost.h"
#include "core/detect/DetectedStream.h"
#include "core/download/DownloadMessages.h"
#include "core/download/DownloadStarter.h"
#include "core/download/common/RecordText.h"
#include "core/download/record/CRecordDownload.h"
#include "core/download/record/RecordMessages.h"
#include "support/CaseName.h"
#include "support/ScriptServer.h"

namespace {

using Kind = DownloadOutcome::Kind;
namespace fs = std::filesystem;

// Far above what remuxing these small streams takes, far below what the attacks took.
constexpr long kPeakBoundKilobytes = 512 * 1024;

// A server that answers as an attacker would (tests/support/media_fixture.py), and what the
// recording must make of it.
struct HostileCase {
    const char* name;
    const char* path;
    bool https;  // served with the test's certificate, which the recording is told to trust
    Kind kind;
    const char* message;  // the template of the message shown; nullptr: none
    bool kept;            // the target is the recording; otherwise its old bytes stay
};

// clang-format off
const HostileCase kHostileCases[] = {
    {"FtpSegment", "/badscheme/ftp/index.m3u8", false, Kind::kFailed, RecordMessages::kSegmentFailed, false},
    {"TcpSegment", "/badscheme/tcp/index.m3u8", false, Kind::kFailed, RecordMessages::kSegmentFailed, false},
    {"ConcatSegment", "/badscheme/concat/index.m3u8", false, Kind::kFailed, RecordMessages::kSegmentFailed, false},
    {"SubfileSegment", "/badscheme/subfile/index.m3u8", false, Kind::kFailed, RecordMessages::kSegmentFailed, false},
    {"FileSegment", "/badscheme/file/index.m3u8", false, Kind::kFailed, RecordMessages::kSegmentFailed, false},
    {"DataSegment", "/badscheme/data/index.m3u8", false, Kind::kFailed, RecordMessages::kNotPlaylist, false},
    {"SegmentsOnSelfSignedServer", "/evil/index.m3u8", false, Kind::kFailed, RecordMessages::kSegmentFailed, false},
    {"HttpsWithTheTestsAuthority", "/vod/index.m3u8", true, Kind::kCompleted, nullptr, true},
    {"HugePlaylist", "/huge/index.m3u8", false, Kind::kFailed, RecordMessages::kTooLarge, false},
    {"GrowingLivePlaylist", "/grow/index.m3u8", false, Kind::kCompleted, RecordMessages::kTooLarge, true},
    {"SecondAnswerNoPlaylist", "/switch/index.m3u8", false, Kind::kFailed, RecordMessages::kNotPlaylist, false},
    {"EscapesInBrokenManifest", "/xmlesc/manifest.mpd", false, Kind::kFailed, RecordMessages::kNotPlaylist, false},
};
// clang-format on

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

bool Printable(const std::string& text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// Standard error of this process goes to a file while it lives.
class StderrCapture {
  public:
    explicit StderrCapture(const fs::path& file) : file_(file) {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrCapture() { Restore(); }
    std::string Restore() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
        return ReadFile(file_);
    }

  private:
    fs::path file_;
    int saved_ = -1;
};

class RecordHostileTest : public ::testing::TestWithParam<HostileCase> {
  protected:
    void SetUp() override {
        if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "ffmpeg is not installed";
        }
        std::string pattern = (fs::temp_directory_path() / "quorvex-hostile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::create_directory(dir_ / "out");
    }
    void TearDown() override {
        std::error_code ignored;
        if (!dir_.empty()) {
            fs::remove_all(dir_, ignored);
        }
    }
    fs::path dir_;
};

TEST_P(RecordHostileTest, EndsAsTheTableSays) {
    const HostileCase& c = GetParam();
    const std::string certificate =
        std::string(QUORVEX_SOURCE_DIR) + "/tests/support/fixture-cert.pem";
    std::vector<std::string> arguments{"110", (dir_ / "media").string()};
    if (c.https) {
        arguments.insert(arguments.end(),
                         {"--tls", certificate,
                          std::string(QUORVEX_SOURCE_DIR) + "/tests/support/fixture-key.pem"});
    }
    ScriptServer server("/usr/bin/python3", "media_fixture.py", arguments);
    ASSERT_TRUE(server.running());

    auto record = std::make_unique<DetectedStream>();
    std::memset(record.get(), 0, sizeof(DetectedStream));
    SetRecordText(record->scheme, c.https ? "https" : "http");
    SetRecordText(record->host, "127.0.0.1:" + std::to_string(server.port()));
    SetRecordText(record->path, c.path);
    const fs::path target = dir_ / "out" / "out.mkv";
    std::ofstream(target) << "old";

    TestDownloadHost host;
    RecordingStreamList list;
    HttpDownloadOptions options;
    options.stallSeconds = 10;
    if (c.https) {
        options.caFile = certificate;
    }
    DownloadStarter starter(host, options);
    StderrCapture stderrCapture(dir_ / "stderr");
    host.rows = &list;
    std::unique_ptr<DownloadWorker> worker = starter.Start(*record, target.string());
    ASSERT_TRUE(worker);
    ASSERT_TRUE(host.waitEnded(1, std::chrono::seconds(90)));
    const long peak = dynamic_cast<CRecordDownload&>(*worker).RecorderPeakKilobytes();
    worker.reset();
    const std::string printed = stderrCapture.Restore();

    const DownloadOutcome outcome = host.outcomes().at(0);
    EXPECT_EQ(outcome.kind, c.kind) << outcome.message << " / " << outcome.detail;
    EXPECT_EQ(outcome.message, c.message ? DownloadMessages::Fill(c.message, outcome.code) : "")
        << outcome.detail;
    EXPECT_TRUE(Printable(outcome.detail)) << outcome.detail;
    EXPECT_EQ(printed.find('\x1b'), std::string::npos) << printed;
    EXPECT_LT(peak, kPeakBoundKilobytes);
    RecordProperty("recorderPeakKilobytes", static_cast<int>(peak));
    // Nothing is left beside the target, which holds the recording or its old bytes.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 1);
    if (c.kept) {
        EXPECT_EQ(list.last(record.get()).progress, "完了");
        EXPECT_GT(fs::file_size(target), 1000u);
    } else {
        EXPECT_EQ(ReadFile(target), "old");
    }
}

INSTANTIATE_TEST_SUITE_P(Attacks, RecordHostileTest, ::testing::ValuesIn(kHostileCases),
                         CaseName{});

// A recorder that crashes, talks nonsense or ends without a word costs its recording only:
// a message, the target untouched. (An RTSP recording asks no probe: no server is needed.)
TEST(RecorderFailureTest, EndsTheRecordingOnly) {
    struct Row {
        const char* script;
        long code;
    } rows[] = {{"kill -SEGV $$", SIGSEGV}, {"printf garbage", EPROTO}, {"exit 0", EIO}};
    std::string pattern = (fs::temp_directory_path() / "quorvex-recorder-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    for (const Row& row : rows) {
        const fs::path program = dir / "stand-in";
        std::ofstream(program) << "#!/bin/sh\n" << row.script << "\n";
        fs::permissions(program, fs::perms::owner_all);
        const fs::path target = dir / "out.mkv";
        std::ofstream(target) << "old";
        auto record = std::make_unique<DetectedStream>();
        std::memset(record.get(), 0, sizeof(DetectedStream));
        TestDownloadHost host;
        CRecordDownload recording(host, RecordKind::kRtsp, {}, program.string());
        ASSERT_EQ(recording.Start(record.get(), "rtsp://127.0.0.1:9/live", target.string()),
                  StartResult::kStarted);
        ASSERT_TRUE(host.waitEnded(1, std::chrono::seconds(60))) << row.script;
        const DownloadOutcome outcome = host.outcomes().at(0);
        EXPECT_EQ(outcome.kind, Kind::kFailed) << row.script;
        EXPECT_EQ(outcome.message,
                  DownloadMessages::Fill(RecordMessages::kRecorderFailed, row.code))
            << row.script << ": " << outcome.detail;
        EXPECT_EQ(ReadFile(target), "old") << row.script;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    }
    fs::remove_all(dir);
}

}  // namespace
