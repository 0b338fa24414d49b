#include "core/detect/DetectedStream.h"
#include "core/session/MonitorSession.h"
#include "gui/app/UiBridge.h"
#include "gui/list/CListArea.h"
#include "gui/list/CListViewEx.h"
#include "gui/list/CStreamListModel.h"
#include "support/FixtureServer.h"
#include "support/ScriptServer.h"
#include "support/WhenModal.h"

#include "AsfFixture.h"
#include "MmsTestServer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
constexpr int kDownloadTimeoutMs = 15000;

DetectedStream httpStream(const FixtureServer& server, const std::string& path) {
    DetectedStream record{};
    std::strcpy(record.scheme, "http");
    std::snprintf(record.host, sizeof record.host, "http://127.0.0.1:%d", server.port());
    std::snprintf(record.path, sizeof record.path, "%s", path.c_str());
    std::strcpy(record.suffix, ".wmv");
    std::strcpy(record.typeName, "Windows Media");
    return record;
}

}  // namespace

class CListAreaDownloadTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<FixtureServer> server_;
    std::unique_ptr<UiBridge> bridge_;
    std::unique_ptr<MonitorSession> session_;
    std::unique_ptr<CListArea> area_;
    std::unique_ptr<QTemporaryDir> dir_;
    QTemporaryDir home_;

    const DetectedStream* addAndPick(const DetectedStream& record) {
        session_->addStream(record);
        area_->FlushPending();
        const int row = area_->Model()->rowCount() - 1;
        const QRect rect = area_->listCtrl()->visualRect(area_->Model()->index(row, 1));
        QTest::mouseClick(area_->listCtrl()->viewport(), Qt::LeftButton, {}, rect.center());
        return area_->currentStream();
    }
    QString progressOf(int row) const { return area_->Model()->index(row, 3).data().toString(); }
    // The context menu's item for `command`, enabled as the menu would show it.
    QAction* menuItem(int command) {
        for (QAction* action : area_->ContextMenu()->actions()) {
            if (action->data().toInt() == command) {
                return action;
            }
        }
        return nullptr;
    }

    // Runs the save command, answering its dialog with `fileName` in the test's folder.
    QString saveAs(const QString& fileName, QString* proposed = nullptr,
                   QStringList* filters = nullptr, QString* folder = nullptr) {
        const QString target = dir_->filePath(fileName);
        whenModal<QFileDialog>([=](QFileDialog* dialog) {
            if (folder != nullptr) {
                *folder = dialog->directory().absolutePath();
            }
            if (proposed != nullptr) {
                *proposed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            }
            if (filters != nullptr) {
                *filters = dialog->nameFilters();
                *filters << dialog->defaultSuffix();
            }
            dialog->selectFile(target);
            static_cast<QDialog*>(dialog)->accept();  // runs the file dialog's own checks
            return true;
        });
        area_->OnCommand(CListArea::kCommandSave);
        return target;
    }

  private slots:
    void initTestCase() {
        // A home of the test's own: the desktop's download folder, as its user-dirs file names
        // it, and the settings where the list keeps its header.
        QVERIFY(QDir().mkpath(home_.filePath(QStringLiteral("dl"))));
        QFile dirs(home_.filePath(QStringLiteral("user-dirs.dirs")));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_DOWNLOAD_DIR=\"" + home_.filePath(QStringLiteral("dl")).toUtf8() + "\"\n");
        dirs.close();
        qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
        server_ = std::make_unique<FixtureServer>(120);
        QVERIFY(server_->running());
    }
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        bridge_ = std::make_unique<UiBridge>();
        session_ = std::make_unique<MonitorSession>(bridge_->callbacks());
        area_ = std::make_unique<CListArea>(*session_, *bridge_);
        area_->resize(800, 300);
        area_->show();
        QVERIFY(QTest::qWaitForWindowExposed(area_.get()));
    }
    void cleanup() {
        area_.reset();
        bridge_->release();
        session_.reset();
        bridge_.reset();
        dir_.reset();
    }

    void saveDownloadsIntoTheChosenFile() {
        const DetectedStream* record =
            addAndPick(httpStream(*server_, "/file/Clip.WMV?size=100000"));
        QVERIFY(record != nullptr);
        QString proposed;
        QStringList filters;
        QString folder;
        const QString target = saveAs(QStringLiteral("saved.wmv"), &proposed, &filters, &folder);
        QCOMPARE(proposed, QStringLiteral("clip.wmv"));
        QCOMPARE(folder, home_.filePath(QStringLiteral("dl")));
        QCOMPARE(filters, (QStringList{QStringLiteral("Windows Media (*.wmv)"),
                                       QStringLiteral("All Files (*.*)"), QStringLiteral("wmv")}));
        QCOMPARE(QString::fromUtf8(record->localFile), target);

        QTRY_COMPARE_WITH_TIMEOUT(progressOf(0), QStringLiteral("完了"), kDownloadTimeoutMs);
        QCOMPARE(LoadDownloadState(*record), int(kStateEnded));
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == QByteArray::fromStdString(FixtureServer::Pattern(100000)));
        QTRY_COMPARE(session_->downloadCount(), 0);
        // The next save starts where the last one went.
        saveAs(QStringLiteral("again.wmv"), nullptr, nullptr, &folder);
        QCOMPARE(folder, dir_->path());
        QTRY_COMPARE_WITH_TIMEOUT(session_->downloadCount(), 0, kDownloadTimeoutMs);
    }

    void mmsSaveWritesTheChosenFullPath() {
        AsfFixture fixture;
        fixture.Build();
        MmsTestServer server(MmsTestServer::Serving(fixture));
        DetectedStream stream{};
        std::strcpy(stream.scheme, "mms");
        std::snprintf(stream.host, sizeof stream.host, "mms://127.0.0.1:%d", int(server.port()));
        std::strcpy(stream.path, "/media/clip.asf");
        std::strcpy(stream.suffix, ".asf");
        const DetectedStream* record = addAndPick(stream);

        const QString target = saveAs(QStringLiteral("clip.asf"));
        // The whole path, not the bare name: nothing depends on the current directory.
        QCOMPARE(QString::fromUtf8(record->localFile), target);
        QTRY_COMPARE_WITH_TIMEOUT(progressOf(0), QStringLiteral("完了"), kDownloadTimeoutMs);
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const std::vector<std::uint8_t> expected = fixture.WholeFile();
        QVERIFY(file.readAll() == QByteArray(reinterpret_cast<const char*>(expected.data()),
                                             qsizetype(expected.size())));
        QTRY_COMPARE(session_->downloadCount(), 0);
    }

    void loginDialogFromTheWorkerThread() {
        const DetectedStream* record =
            addAndPick(httpStream(*server_, "/auth/secret.wmv?size=5000"));
        whenModal<QDialog>([](QDialog* dialog) {
            auto* user = dialog->findChild<QLineEdit*>(QStringLiteral("user"));
            auto* password = dialog->findChild<QLineEdit*>(QStringLiteral("password"));
            if (user == nullptr || password == nullptr) {
                return false;  // the save dialog, still closing
            }
            user->setText(QStringLiteral("user"));
            password->setText(QStringLiteral("secret"));
            dialog->accept();
            return true;
        });
        const QString target = saveAs(QStringLiteral("secret.wmv"));
        QTRY_COMPARE_WITH_TIMEOUT(progressOf(0), QStringLiteral("完了"), kDownloadTimeoutMs);
        QCOMPARE(QFileInfo(target).size(), 5000);
        QCOMPARE(LoadDownloadState(*record), int(kStateEnded));
    }

    // A playlist or RTSP row is recorded: the dialog proposes its container, the row shows
    // the recording's progress, and a stopped live recording ends complete.
    void recordsPlaylistsAndRtsp_data() {
        QTest::addColumn<bool>("rtsp");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("proposed");
        QTest::addColumn<QString>("filter");
        QTest::newRow("hls with an end") << false << "/vod/index.m3u8"
                                         << "index.mp4"
                                         << "MPEG-4 (*.mp4)";
        QTest::newRow("dash with an end") << false << "/dash/manifest.mpd"
                                          << "manifest.mp4"
                                          << "MPEG-4 (*.mp4)";
        QTest::newRow("rtsp, stopped") << true << "/live"
                                       << "live.mkv"
                                       << "Matroska (*.mkv)";
    }
    void recordsPlaylistsAndRtsp() {
        QFETCH(bool, rtsp);
        QFETCH(QString, path);
        QFETCH(QString, proposed);
        QFETCH(QString, filter);
        if (std::system("ffmpeg -version >/dev/null 2>&1") != 0 ||
            (rtsp &&
             std::system("/usr/bin/python3 -c \"import gi; "
                         "gi.require_version('GstRtspServer', '1.0')\" 2>/dev/null") != 0)) {
            QSKIP("ffmpeg or GStreamer's RTSP server for python3 is not installed");
        }
        const QString media = dir_->filePath(QStringLiteral("media"));
        QVERIFY(QDir().mkpath(media));
        ScriptServer server("/usr/bin/python3", rtsp ? "rtsp_fixture.py" : "media_fixture.py",
                            rtsp ? std::vector<std::string>{"60"}
                                 : std::vector<std::string>{"60", media.toStdString()});
        QVERIFY(server.running());
        DetectedStream stream{};
        std::strcpy(stream.scheme, rtsp ? "rtsp" : "http");
        std::snprintf(stream.host, sizeof stream.host, "%s://127.0.0.1:%d", stream.scheme,
                      server.port());
        std::snprintf(stream.path, sizeof stream.path, "%s", path.toUtf8().constData());
        const DetectedStream* record = addAndPick(stream);
        QVERIFY(record != nullptr);
        QString shown;
        QStringList filters;
        const QString target = saveAs(proposed, &shown, &filters);
        QCOMPARE(shown, proposed);
        QCOMPARE(filters.value(0), filter);
        if (rtsp) {
            QTRY_VERIFY_WITH_TIMEOUT(progressOf(0).endsWith(QStringLiteral("秒")), 30000);
            area_->OnCommand(CListArea::kCommandAbort);
        }
        QTRY_COMPARE_WITH_TIMEOUT(progressOf(0), QStringLiteral("完了"), 30000);
        QVERIFY(QFileInfo(target).size() > 0);
        QTRY_COMPARE(session_->downloadCount(), 0);
    }

    void abortStopsARunningDownload() {
        const DetectedStream* record =
            addAndPick(httpStream(*server_, "/slow/a.wmv?size=1000000&rate=50000"));
        const QString target = saveAs(QStringLiteral("a.wmv"));
        QCOMPARE(LoadDownloadState(*record), int(kStateDownloading));
        QTRY_VERIFY_WITH_TIMEOUT(progressOf(0).endsWith(QLatin1Char('%')), kDownloadTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(!area_->Model()->index(0, 4).data().toString().isEmpty(),
                                 kDownloadTimeoutMs);
        area_->OnCommand(CListArea::kCommandAbort);
        QTRY_COMPARE_WITH_TIMEOUT(session_->downloadCount(), 0, kDownloadTimeoutMs);
        QVERIFY(LoadDownloadState(*record) != kStateDownloading);
        QVERIFY(QFileInfo(target).size() < 1000000);
        // Nothing is left to wait for or to transfer; the size stays shown.
        area_->FlushPending();
        QVERIFY(!area_->Model()->index(0, 2).data().toString().isEmpty());
        QVERIFY(area_->Model()->index(0, 4).data().toString().isEmpty());
        QVERIFY(area_->Model()->index(0, 5).data().toString().isEmpty());
    }

    void resetWhileDownloading() {
        const DetectedStream stream = httpStream(*server_, "/slow/r.wmv?size=60000&rate=60000");
        addAndPick(stream);
        saveAs(QStringLiteral("r.wmv"));
        QTRY_VERIFY_WITH_TIMEOUT(progressOf(0).endsWith(QLatin1Char('%')), kDownloadTimeoutMs);

        area_->OnInitialUpdate();
        QCOMPARE(area_->Model()->rowCount(), 0);
        // The same stream seen again after the reset is a new row, untouched by the old download.
        session_->addStream(stream);
        area_->FlushPending();
        QTRY_COMPARE_WITH_TIMEOUT(session_->downloadCount(), 0, kDownloadTimeoutMs);
        area_->FlushPending();
        QCOMPARE(area_->Model()->rowCount(), 1);
        QVERIFY(progressOf(0).isEmpty());
        QCOMPARE(QFileInfo(dir_->filePath(QStringLiteral("r.wmv"))).size(), 60000);
    }

    void failureMessageAndShutdownWhileItIsShown() {
        const DetectedStream* record = addAndPick(httpStream(*server_, "/status/404"));
        QString message;
        bool shutDownReturned = false;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            message = box->text();
            // The worker waits for this box; closing the program must not wait for it.
            area_->Shutdown();
            bridge_->release();
            session_->shutdown();
            shutDownReturned = true;
            box->accept();
            return true;
        });
        saveAs(QStringLiteral("missing.wmv"));
        QTRY_VERIFY_WITH_TIMEOUT(shutDownReturned, kDownloadTimeoutMs);
        QVERIFY2(message.contains(QStringLiteral("404")), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("URL: http://")) &&
                     message.contains(QStringLiteral("/status/404")),
                 qPrintable(message));
        QCOMPARE(session_->downloadCount(), 0);
        QCOMPARE(LoadDownloadState(*record), int(kStateIdle));
    }

    // The menu's pause keeps the part and its resume asks for the rest: the file is whole.
    void pauseAndResumeFromTheMenu() {
        const DetectedStream* record =
            addAndPick(httpStream(*server_, "/reset/m.wmv?size=100000&after=40000&hold=30"));
        QVERIFY(!menuItem(CListArea::kCommandPause)->isEnabled());
        const QString target = saveAs(QStringLiteral("m.wmv"));
        QTRY_COMPARE_WITH_TIMEOUT(progressOf(0), QStringLiteral("40%"), kDownloadTimeoutMs);
        QVERIFY(menuItem(CListArea::kCommandPause)->isEnabled());
        QVERIFY(!menuItem(CListArea::kCommandResume)->isEnabled());
        menuItem(CListArea::kCommandPause)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(progressOf(0), QStringLiteral("一時停止中"), kDownloadTimeoutMs);
        QCOMPARE(LoadDownloadState(*record), int(kStatePaused));
        QVERIFY(!menuItem(CListArea::kCommandPause)->isEnabled());
        QVERIFY(menuItem(CListArea::kCommandResume)->isEnabled());
        menuItem(CListArea::kCommandResume)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(progressOf(0), QStringLiteral("完了"), kDownloadTimeoutMs);
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == QByteArray::fromStdString(FixtureServer::Pattern(100000)));
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("m.wmv")});
    }

    // Without a dialog the selected rows go to the desktop's download folder under free
    // names, the second once the first has ended with a limit of one.
    void downloadToFolderTakesFreeNames() {
        const QDir folder(home_.filePath(QStringLiteral("dl")));
        QVERIFY(QFile(folder.filePath(QStringLiteral("clip.wmv"))).open(QIODevice::WriteOnly));
        session_->setDownloadLimit(1);
        addAndPick(httpStream(*server_, "/file/clip.wmv?size=1000"));
        addAndPick(httpStream(*server_, "/file/x/clip.wmv?size=2000"));
        area_->listCtrl()->selectAll();
        menuItem(CListArea::kCommandDownloadToFolder)->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(progressOf(1), QStringLiteral("完了"), kDownloadTimeoutMs);
        const QStringList names{QStringLiteral("clip.wmv"), QStringLiteral("clip (1).wmv"),
                                QStringLiteral("clip (2).wmv")};
        for (int i = 0; i < names.size(); ++i) {
            QCOMPARE(QFileInfo(folder.filePath(names[i])).size(), i * 1000);
            QFile::remove(folder.filePath(names[i]));
        }
    }

    void tooLongPathIsRefused() {
        const DetectedStream* record = addAndPick(httpStream(*server_, "/file/b.wmv?size=10"));
        const QString longName = QString(250, QLatin1Char('n'));
        QString folder = dir_->path();
        while (folder.size() < DetectedStream::kLocalFileCapacity) {
            folder += QLatin1Char('/') + longName;
        }
        QVERIFY(QDir().mkpath(folder));
        QString message;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            message = box->text();
            box->accept();
            return true;
        });
        whenModal<QFileDialog>([&](QFileDialog* dialog) {
            dialog->selectFile(folder + QStringLiteral("/b.wmv"));
            static_cast<QDialog*>(dialog)->accept();  // runs the file dialog's own checks
            return true;
        });
        area_->OnCommand(CListArea::kCommandSave);
        QVERIFY(!message.isEmpty());
        QCOMPARE(LoadDownloadState(*record), int(kStateIdle));
        QCOMPARE(record->localFile[0], '\0');
        QCOMPARE(session_->downloadCount(), 0);
    }
};

QTEST_MAIN(CListAreaDownloadTest)
#include "CListAreaDownloadTest.moc"
