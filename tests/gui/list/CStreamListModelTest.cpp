#include "gui/list/CStreamListModel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/DownloadReporter.h"
#include "core/download/common/ProgressState.h"
#include "core/download/common/RecordText.h"
#include "core/download/common/ReportProgress.h"
#include "core/download/record/RecordProgress.h"
#include "core/session/MonitorSession.h"

namespace {

// A worker's host that shows its row in the session's list and says nothing else.
class SessionHost : public DownloadHost {
  public:
    explicit SessionHost(MonitorSession& session) : session_(session) {}
    void showMessage(const std::string&) override {}
    bool askLogin(const LoginRequest&, Credentials&) override { return false; }
    void showTransfer(const DetectedStream& record, const TransferProgress& progress) override {
        session_.showTransfer(record, progress);
    }
    void downloadEnded(DetectedStream*, const DownloadOutcome&) override {}

  private:
    MonitorSession& session_;
};

DetectedStream Stream(const char* path) {
    DetectedStream record{};
    std::strcpy(record.scheme, "http");
    std::strcpy(record.host, "http://h");
    SetRecordText(record.path, path);
    std::strcpy(record.typeName, "MPEG-4");
    return record;
}

std::string Text(const CStreamListModel& model, int row, int column) {
    return model.index(row, column).data().toString().toStdString();
}

// How far a download got, in numbers, and whether it failed; then what its row shows, its
// four status columns joined by "|".
struct RowCase {
    const char* name;
    bool live;            // a live recording, else an HTTP download
    std::uint64_t bytes;  // received, or written by the recorder; 0: connecting still
    double seconds;       // media recorded
    bool failed;
    const char* shown;
    double percent;  // the bar; < 0: none
};

// clang-format off
const RowCase kRows[] = {
    {"HttpUnderWay", false, 209716, 0, false, "10.00 MB|2%|1分 13秒|140 KB/S", 2},
    {"HttpFailedAfterItsLastTry", false, 209716, 0, true, "|失敗||", -1},
    {"HttpNotFound", false, 0, 0, true, "|失敗||", -1},
    {"LiveRecording", true, 1572864, 65, false, "1.50 MB|1分 5秒||1049 KB/S", -1},
    {"LiveRecordingFailed", true, 1572864, 65, true, "|失敗||", -1},
};
// clang-format on

TEST(CStreamListModelTest, RowsShowWhatTheirDownloadLeft) {
    for (const RowCase& c : kRows) {
        SCOPED_TRACE(c.name);
        MonitorSession session{SessionCallbacks{}};
        SessionHost host(session);
        DownloadReporter reporter(host);
        const DetectedStream seen = Stream("/v.mp4");
        session.addStream(seen);
        CStreamListModel model(session);
        model.advance(session.rowCount(), 1000);
        auto* record = const_cast<DetectedStream*>(session.record(0));
        reporter.attach(*record);
        reporter.show(kStateDownloading, TransferProgress::Stage::kConnecting);

        std::uint32_t now = 0;
        const TickSource ticks = [&now] { return now; };
        ProgressState http = ProgressState::Begin(now, true, 10485760);
        RecordProgress recording(ticks, 0);
        now = 1500;
        if (c.bytes > 0 && !c.live) {
            ReportProgress(c.bytes, http, reporter.progress(), ticks);
        } else if (c.bytes > 0) {
            recording.Report(c.bytes, c.seconds, reporter.progress());
        }
        reporter.show();
        if (c.failed) {
            reporter.finish(kStateIdle, TransferProgress::Stage::kFailed, DownloadOutcome{});
        }
        model.refreshRow(0);

        std::string shown;
        for (int column = CStreamListModel::kSize; column <= CStreamListModel::kRate; ++column) {
            shown += (column == CStreamListModel::kSize ? "" : "|") + Text(model, 0, column);
        }
        EXPECT_EQ(shown, c.shown);
        const QVariant bar =
            model.index(0, CStreamListModel::kProgress).data(CStreamListModel::kPercentRole);
        EXPECT_EQ(bar.isValid() ? bar.toDouble() : -1.0, c.percent);
        EXPECT_EQ(LoadDownloadState(*record), c.failed ? kStateIdle : kStateDownloading);
    }
}

// The path column and the filter read percent-escapes decoded; the URL stays as captured.
TEST(CStreamListModelTest, PathsShowAndAreFoundDecoded) {
    const char* paths[] = {"/%E6%97%A5%E6%9C%AC%E8%AA%9E.mp4", "/a%20clip%0A.mp4"};
    const char* shown[] = {"/日本語.mp4", "/a clip%0A.mp4"};
    MonitorSession session{SessionCallbacks{}};
    for (const char* path : paths) {
        const DetectedStream seen = Stream(path);
        session.addStream(seen);
    }
    CStreamListModel model(session);
    model.advance(session.rowCount(), 1000);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Text(model, i, CStreamListModel::kUrl), shown[i]);
        EXPECT_EQ(session.url(i), std::string("http://h") + paths[i]);
    }
    struct Search {
        const char* filter;
        std::vector<std::string> found;
    } searches[] = {
        {"日本語", {"/日本語.mp4"}},
        {"%e6%97", {"/日本語.mp4"}},
        {"A CLIP", {"/a clip%0A.mp4"}},
        {"\n", {}},
    };
    for (const Search& search : searches) {
        model.setFilterText(QString::fromUtf8(search.filter));
        while (model.advance(session.rowCount(), 1000)) {
        }
        std::vector<std::string> found;
        for (int i = 0; i < model.rowCount(); ++i) {
            found.push_back(Text(model, i, CStreamListModel::kUrl));
        }
        EXPECT_EQ(found, search.found) << search.filter;
    }
}

}  // namespace
