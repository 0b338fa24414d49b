#include "core/session/DownloadQueue.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "core/download/common/TransferText.h"
#include "core/session/MonitorSession.h"
#include "support/FixtureServer.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Kind = DownloadOutcome::Kind;
using Ends = std::vector<std::pair<int, Kind>>;

namespace {

// What the session told from its threads, waited for on the test's thread.
class News {
  public:
    SessionCallbacks callbacks() {
        SessionCallbacks callbacks;
        callbacks.rowsChanged = [this] { note([] {}); };
        callbacks.downloadEnded = [this](int row, const DownloadOutcome& outcome) {
            note([&] { ends_.emplace_back(row, outcome.kind); });
        };
        callbacks.downloadPaused = [this](int row) { note([&] { pauses_.push_back(row); }); };
        return callbacks;
    }
    Ends waitEnds(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 20s, [&] { return ends_.size() >= count; });
        return ends_;
    }
    std::vector<int> waitPauses(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 20s, [&] { return pauses_.size() >= count; });
        return pauses_;
    }
    // Until the row's progress shows `text`; taking the changes asks for news of the next.
    bool waitRow(MonitorSession& session, int row, const std::string& text) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] {
            session.takeChanges();
            StreamRowView texts;
            return session.rowView(row, texts) && text == TransferText::progress(texts.transfer);
        });
    }

  private:
    template <typename F>
    void note(F change) {
        std::lock_guard lock(mutex_);
        change();
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    Ends ends_;
    std::vector<int> pauses_;
};

// A fixture server, a session whose rows are `paths` on it, and a folder of the test's own.
class DownloadQueueTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.running());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    void addRows(const std::vector<std::string>& paths) {
        for (const std::string& path : paths) {
            DetectedStream stream{};
            std::strcpy(stream.scheme, "http");
            std::snprintf(stream.host, sizeof stream.host, "http://127.0.0.1:%d", server_.port());
            std::snprintf(stream.path, sizeof stream.path, "%s", path.c_str());
            session_.addStream(stream);
        }
    }
    std::string file(const std::string& name) const { return (folder_ / name).string(); }
    std::string contents(const std::string& name) const {
        std::ifstream in(folder_ / name, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            found.push_back(entry.path().filename().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }
    int state(int row) { return LoadDownloadState(*session_.record(row)); }
    std::vector<std::string> requestsFor(const std::string& path) const {
        std::vector<std::string> found;
        for (const std::string& head : server_.Requests()) {
            if (head.starts_with("GET " + path + " ")) {
                found.push_back(head);
            }
        }
        return found;
    }

    FixtureServer server_;
    fs::path folder_ = fs::temp_directory_path() / ("qvx-queue-" + std::to_string(::getpid()));
    News news_;
    MonitorSession session_{news_.callbacks()};
};

// The server sends half of it, then holds it until the client goes.
std::string Held(int n) {
    return "/reset/q" + std::to_string(n) + ".wmv?size=1000&after=500&hold=30";
}

// Every start happens inside a call of the test's thread: checked after each, what runs never
// passes the limit, and the rows start in the order they were asked for.
TEST_F(DownloadQueueTest, RunsAtMostItsLimitInTheOrderAskedWhileTheOthersWait) {
    constexpr int kLimit = 2;
    EXPECT_EQ(session_.downloadLimit(), DownloadQueue::kDefaultLimit);
    session_.setDownloadLimit(kLimit);
    addRows({Held(0), Held(1), Held(2), Held(3), Held(4)});
    std::vector<int> started;
    const auto check = [&] {
        EXPECT_LE(session_.runningDownloadCount(), kLimit);
        for (int row = 0; row < 5; ++row) {
            if ((state(row) == kStateDownloading || state(row) == kStateEnded) &&
                std::find(started.begin(), started.end(), row) == started.end()) {
                started.push_back(row);
            }
        }
    };
    for (int row = 0; row < 5; ++row) {
        ASSERT_TRUE(session_.startDownload(row, file("q" + std::to_string(row))));
        check();
    }
    EXPECT_TRUE(news_.waitRow(session_, 4, "待機中"));
    EXPECT_EQ(state(2), kStateWaiting);
    EXPECT_FALSE(session_.startDownload(2, file("again"))) << "one download per row";
    // A waiting download is cancelled like a running one, at once.
    ASSERT_TRUE(session_.cancelDownload(3));
    EXPECT_EQ(state(3), kStateIdle);
    EXPECT_TRUE(news_.waitRow(session_, 3, "Cancel"));
    // A running one stopped hands its place to the next one waiting.
    for (int row : {0, 1}) {
        ASSERT_TRUE(news_.waitRow(session_, row, "50%"));
        ASSERT_TRUE(session_.cancelDownload(row));
        news_.waitEnds(static_cast<std::size_t>(row) + 1);
        session_.reapEndedDownloads();
        check();
    }
    EXPECT_EQ(started, (std::vector<int>{0, 1, 2, 4}));
    // Asked for while both places are taken, it waits; closing starts no waiting download and
    // ends a paused one without its part.
    ASSERT_TRUE(session_.startDownload(3, file("q3")));
    EXPECT_EQ(state(3), kStateWaiting);
    ASSERT_TRUE(news_.waitRow(session_, 4, "50%"));
    ASSERT_TRUE(session_.pauseDownload(4));
    news_.waitPauses(1);
    session_.shutdown();
    const Ends ends = news_.waitEnds(4);
    EXPECT_EQ(std::count(ends.begin(), ends.end(), std::make_pair(4, Kind::kCancelled)), 1);
    EXPECT_TRUE(requestsFor(Held(3)).empty());
    EXPECT_EQ(names(), std::vector<std::string>{}) << "cancelled files and parts go";
}

// A pause keeps the part and frees the place; resumed, the download waits its turn and asks
// for the rest only, with the validator that proves the same file.
TEST_F(DownloadQueueTest, PauseFreesThePlaceAndResumeGoesOnFromTheKeptPart) {
    session_.setDownloadLimit(1);
    const std::string paused = "/reset/p.wmv?size=100000&after=40000&hold=30";
    addRows({paused, "/file/f.wmv?size=3000"});
    ASSERT_TRUE(session_.startDownload(0, file("p.wmv")));
    ASSERT_TRUE(session_.startDownload(1, file("f.wmv")));
    EXPECT_FALSE(session_.canPauseDownload(1)) << "only a running one pauses";
    ASSERT_TRUE(news_.waitRow(session_, 0, "40%"));
    ASSERT_TRUE(session_.pauseDownload(0));
    EXPECT_EQ(news_.waitPauses(1), std::vector<int>{0});
    EXPECT_EQ(state(0), kStatePaused);
    EXPECT_TRUE(news_.waitRow(session_, 0, "一時停止中"));
    EXPECT_EQ(names(), std::vector<std::string>{".p.wmv.part"});
    EXPECT_EQ(fs::file_size(folder_ / ".p.wmv.part"), 40000u);

    session_.reapEndedDownloads();
    EXPECT_EQ(news_.waitEnds(1), (Ends{{1, Kind::kCompleted}}));
    ASSERT_TRUE(session_.resumeDownload(0));
    EXPECT_EQ(news_.waitEnds(2), (Ends{{1, Kind::kCompleted}, {0, Kind::kCompleted}}));
    EXPECT_EQ(contents("p.wmv"), FixtureServer::Pattern(100000));
    const std::vector<std::string> asked = requestsFor(paused);
    ASSERT_EQ(asked.size(), 2u);
    for (const char* header : {"\r\nRange: bytes=40000-\r\n", "\r\nIf-Range: \"v1\"\r\n"}) {
        EXPECT_NE(asked[1].find(header), std::string::npos) << asked[1];
    }
    EXPECT_EQ(names(), (std::vector<std::string>{"f.wmv", "p.wmv"}));
}

// Without a dialog nothing asks before a file is replaced: each download takes a free name,
// also past one that another download of the session is about to write.
TEST_F(DownloadQueueTest, DownloadsWithoutADialogTakeFreeNames) {
    std::ofstream(folder_ / "clip.wmv") << "precious";
    addRows({"/file/clip.wmv?size=1000", "/file/x/clip.wmv?size=2000"});
    for (int row : {0, 1}) {
        ASSERT_TRUE(
            session_.startDownload(row, file("clip.wmv"), MonitorSession::ExistingFile::kFreeName));
    }
    EXPECT_EQ(session_.record(1)->localFile, file("clip (2).wmv"));
    news_.waitEnds(2);
    EXPECT_EQ(contents("clip.wmv"), "precious");
    EXPECT_EQ(contents("clip (1).wmv"), FixtureServer::Pattern(1000));
    EXPECT_EQ(contents("clip (2).wmv"), FixtureServer::Pattern(2000));
}

}  // namespace
