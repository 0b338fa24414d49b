#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "core/download/common/TransferText.h"
#include "core/session/MonitorSession.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CQuorvexApp.h"
#include "gui/app/CQuorvexDoc.h"
#include "gui/app/CommandIds.h"
#include "gui/app/DocumentPrompts.h"
#include "gui/app/FrameFakes.h"
#include "gui/app/FrameViewAdapter.h"
#include "gui/app/RecentFileList.h"
#include "gui/app/RecentFilesMenu.h"
#include "support/FixtureServer.h"
#include "support/PcapFileWriter.h"
#include "support/TestPackets.h"
#include "support/WhenModal.h"

namespace {

constexpr std::uint32_t kLinkTypeRaw = 101;

DetectedStream stream(const std::string& host, const std::string& path) {
    DetectedStream record{};
    std::strcpy(record.scheme, "http");
    std::snprintf(record.host, sizeof record.host, "%s", host.c_str());
    std::snprintf(record.path, sizeof record.path, "%s", path.c_str());
    std::strcpy(record.suffix, ".wmv");
    std::strcpy(record.typeName, "Windows Media");
    return record;
}

std::string readFile(const QString& path) {
    std::ostringstream out;
    out << std::ifstream(path.toStdString(), std::ios::binary).rdbuf();
    return out.str();
}

// A capture of `count` requests for distinct media files (and one page that is none).
void writeCapture(const QString& path, int count) {
    PcapFileWriter writer(path.toStdString(), kLinkTypeRaw);
    writer.add(test_packets::datagram("GET /index.html HTTP/1.1\r\nHost: a.test\r\n\r\n"));
    for (int i = 0; i < count; ++i) {
        writer.add(test_packets::datagram("GET /v/" + std::to_string(i) +
                                          ".wmv HTTP/1.1\r\nHost: a.test\r\n\r\n"));
    }
}

}  // namespace

class DocumentTest : public QObject {
    Q_OBJECT

  public:
    explicit DocumentTest(CQuorvexApp& app) : app_(app) {}

  private slots:
    void init();
    void cleanup();
    void savedListsOpenAgain_data();
    void savedListsOpenAgain();
    void savedListsKeepFinishedDownloads_data();
    void savedListsKeepFinishedDownloads();
    void filesNotOursAreRefusedAndNeverWrittenOver_data();
    void filesNotOursAreRefusedAndNeverWrittenOver();
    void aCaptureIsDetectedIntoTheList();
    void aLongReadShowsProgressAndCancelKeepsTheRows();
    void recentFilesAreInTheFileMenu();
    void runningDownloadsEndOnlyWhenTheUserAgrees_data();
    void runningDownloadsEndOnlyWhenTheUserAgrees();
    void unsavedRowsGoOnlyWhenTheUserSays_data();
    void unsavedRowsGoOnlyWhenTheUserSays();
    void rowsTakenOutMakeTheListUnsaved();
    void openingWhileMonitoringAsksToStopFirst();
    void theSaveQuestionOffersThreeAnswers();

  private:
    FrameServices makeServices();
    CMainFrame* frame() const { return app_.MainFrame(); }
    MonitorSession& session() const { return *frame()->Session(); }
    QString file(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
    void addRows(int count);

    CQuorvexApp& app_;
    QTemporaryDir dir_;
    CaptureLog log_;
    int adapters_ = 0;
    QStringList errors_;
    int exits_ = 0;
    int asked_ = 0;
    bool abortAnswer_ = false;
    QStringList savesAsked_;  // the titles the save question named
    DocumentPrompts::SaveAnswer saveAnswer_ = DocumentPrompts::SaveAnswer::kCancel;
    QString saveName_;  // the name given when one is asked for; empty: cancelled
    int stopsAsked_ = 0;
    bool stopAnswer_ = false;
};

FrameServices DocumentTest::makeServices() {
    FrameServices services;
    services.createView = [](MonitorSession&, UiBridge&) {
        return std::make_unique<FrameViewAdapter<FakeView>>(new FakeView);
    };
    services.adapterSource = std::make_unique<FakeAdapterSource>(adapters_);
    services.captureFactory = std::make_unique<FakeCaptureFactory>(log_);
    services.showError = [this](QWidget*, const QString& text) { errors_.append(text); };
    services.askAbortDownloads = [this](QWidget*, int) {
        ++asked_;
        return abortAnswer_;
    };
    services.exitProcess = [this](int) { ++exits_; };
    services.askSaveChanges = [this](QWidget*, const QString& title) {
        savesAsked_ << title;
        return saveAnswer_;
    };
    services.askSaveFileName = [this](QWidget*, const QString&) { return saveName_; };
    services.askStopMonitoring = [this](QWidget*) {
        ++stopsAsked_;
        return stopAnswer_;
    };
    return services;
}

void DocumentTest::init() {
    errors_.clear();
    exits_ = 0;
    asked_ = 0;
    savesAsked_.clear();
    saveName_.clear();
    stopsAsked_ = 0;
    adapters_ = 0;
    QSettings().clear();
    QVERIFY(app_.InitInstance(makeServices()));
}

void DocumentTest::cleanup() {
    frame()->ShutdownWork();
}

void DocumentTest::addRows(int count) {
    for (int i = 0; i < count; ++i) {
        const DetectedStream record =
            stream("http://s" + std::to_string(i) + ".test", "/動画/" + std::to_string(i) + ".wmv");
        session().addStream(record);
    }
}

void DocumentTest::savedListsOpenAgain_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("starts");
    QTest::newRow("JSON lines") << "list.jsonl" << QByteArray("{\"scheme\":\"http\"");
    QTest::newRow("no suffix") << "list" << QByteArray("{\"scheme\":\"http\"");
    QTest::newRow("CSV") << "list.csv" << QByteArray("scheme,host,path,");
    QTest::newRow("CSV in capitals") << "LIST.CSV" << QByteArray("scheme,host,path,");
}

void DocumentTest::savedListsOpenAgain() {
    QFETCH(QString, name);
    QFETCH(QByteArray, starts);
    addRows(3);
    QString error;
    QVERIFY(app_.Document()->OnSaveDocument(file(name), &error));
    QVERIFY(readFile(file(name)).starts_with(starts.toStdString()));
    QCOMPARE(frame()->windowTitle(), name + QStringLiteral(" - Quorvex"));
    app_.OnFileNew();
    QCOMPARE(session().rowCount(), 0);
    QCOMPARE(frame()->windowTitle(), QStringLiteral("Untitled - Quorvex"));

    QVERIFY(app_.OpenDocumentFile(file(name)));
    QCOMPARE(session().rowCount(), 3);
    DetectedStream back;
    QVERIFY(session().copyRecord(2, back));
    QCOMPARE(QString::fromUtf8(back.path), QStringLiteral("/動画/2.wmv"));
    QCOMPARE(app_.Document()->GetPathName(), file(name));
    QCOMPARE(RecentFileList::files().value(0), file(name));
    // Save writes the same form back to the same file.
    addRows(4);
    QTRY_COMPARE(frame()->windowTitle(), name + QStringLiteral("* - Quorvex"));
    frame()->OnFileSave();
    QCOMPARE(frame()->windowTitle(), name + QStringLiteral(" - Quorvex"));
    QVERIFY(readFile(file(name)).starts_with(starts.toStdString()));
    app_.OnFileNew();
    QVERIFY(app_.OpenDocumentFile(file(name)));
    QCOMPARE(session().rowCount(), 4);
    QVERIFY(errors_.isEmpty());
}

void DocumentTest::savedListsKeepFinishedDownloads_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("JSON lines") << "list.jsonl";
    QTest::newRow("CSV") << "list.csv";
}

// Each row's download as saved and as the reopened list shows it: a finished one with its
// file (play and its folder are offered again), anything else as not downloaded.
void DocumentTest::savedListsKeepFinishedDownloads() {
    QFETCH(QString, name);
    const struct {
        std::int32_t state;
        const char* file;  // in the test's folder
        bool kept;
    } rows[] = {{kStateEnded, "done.wmv", true},
                {kStateDownloading, "running.wmv", false},
                {kStateIdle, "failed.wmv", false}};
    addRows(3);
    for (int row = 0; row < 3; ++row) {
        auto* record = const_cast<DetectedStream*>(session().record(row));
        std::snprintf(record->localFile, sizeof record->localFile, "%s",
                      QFile::encodeName(file(QString::fromUtf8(rows[row].file))).constData());
        StoreDownloadState(*record, rows[row].state);
    }
    QString error;
    QVERIFY2(app_.Document()->OnSaveDocument(file(name), &error), qPrintable(error));
    app_.OnFileNew();
    QVERIFY(app_.OpenDocumentFile(file(name)));
    QCOMPARE(session().rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        const DetectedStream* record = session().record(row);
        StreamRowView texts;
        QVERIFY(session().rowView(row, texts));
        const bool kept = rows[row].kept;
        QCOMPARE(LoadDownloadState(*record), kept ? kStateEnded : kStateIdle);
        QCOMPARE(QFile::decodeName(record->localFile),
                 kept ? file(QString::fromUtf8(rows[row].file)) : QString());
        QCOMPARE(QString::fromStdString(TransferText::progress(texts.transfer)),
                 kept ? QStringLiteral("完了") : QString());
    }
    QVERIFY(!app_.Document()->IsModified());
}

void DocumentTest::filesNotOursAreRefusedAndNeverWrittenOver_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    const QString notOurs = QStringLiteral("でもありません");
    QTest::newRow("program") << "prog.jsonl"
                             << QByteArray(
                                    "\x7F"
                                    "ELF\x02\x01\x01",
                                    7)
                             << notOurs;
    QTest::newRow("other JSON") << "log.jsonl" << QByteArray("{\"level\":\"info\"}\n") << notOurs;
    QTest::newRow("web page") << "page.csv" << QByteArray("<html></html>\n") << notOurs;
    QTest::newRow("other CSV") << "t.csv" << QByteArray("a,b,c\n1,2,3\n") << notOurs;
    QTest::newRow("missing") << "missing.jsonl" << QByteArray() << "ファイルがありません";
}

void DocumentTest::filesNotOursAreRefusedAndNeverWrittenOver() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    if (!content.isEmpty()) {
        std::ofstream(file(name).toStdString(), std::ios::binary) << content.toStdString();
    }
    // The list and its file stay as they were.
    addRows(2);
    QString error;
    QVERIFY(app_.Document()->OnSaveDocument(file(QStringLiteral("mine.jsonl")), &error));
    QVERIFY(!app_.OpenDocumentFile(file(name)));
    QCOMPARE(errors_.size(), 1);
    QVERIFY2(errors_[0].contains(name) && errors_[0].contains(reason), qPrintable(errors_[0]));
    QCOMPARE(session().rowCount(), 2);
    QCOMPARE(app_.Document()->GetPathName(), file(QStringLiteral("mine.jsonl")));
    // Saving under its name is refused too.
    if (!content.isEmpty()) {
        QVERIFY(!app_.Document()->OnSaveDocument(file(name), &error));
        QCOMPARE(readFile(file(name)), content.toStdString());
    }
}

void DocumentTest::aCaptureIsDetectedIntoTheList() {
    writeCapture(file(QStringLiteral("cap.pcap")), 5);
    QVERIFY(app_.OpenDocumentFile(file(QStringLiteral("cap.pcap"))));
    QTRY_COMPARE(session().rowCount(), 5);
    QCOMPARE(frame()->windowTitle(), QStringLiteral("cap.pcap - Quorvex"));
    // The capture is not the document's file: saving asks for a name instead of writing it.
    QVERIFY(app_.Document()->GetPathName().isEmpty());
    QCOMPARE(RecentFileList::files().value(0), file(QStringLiteral("cap.pcap")));
    QVERIFY(errors_.isEmpty());
}

void DocumentTest::aLongReadShowsProgressAndCancelKeepsTheRows() {
    constexpr int kStreams = 1000000;  // far more than are read before the dialog shows
    writeCapture(file(QStringLiteral("big.pcap")), kStreams);
    frame()->show();
    bool shown = false;
    whenModal<QProgressDialog>([&](QProgressDialog* progress) {
        shown = true;
        progress->cancel();
        return true;
    });
    QVERIFY(app_.OpenDocumentFile(file(QStringLiteral("big.pcap"))));
    QVERIFY(shown);
    QVERIFY(!app_.Document()->IsLoading());
    // What was read before the cancel stays listed.
    const int rows = session().rowCount();
    QVERIFY2(rows < kStreams, qPrintable(QString::number(rows)));
    // The reading thread has been joined: what it posted is handled now and adds no row.
    QCoreApplication::processEvents();
    QCOMPARE(session().rowCount(), rows);
    QCOMPARE(frame()->windowTitle(), QStringLiteral("big.pcap - Quorvex"));
}

void DocumentTest::recentFilesAreInTheFileMenu() {
    addRows(1);
    QString error;
    QVERIFY2(app_.Document()->OnSaveDocument(file(QStringLiteral("recent.jsonl")), &error),
             qPrintable(error));
    RecentFileList::add(file(QStringLiteral("recent.jsonl")));
    RecentFileList::add(file(QStringLiteral("gone.jsonl")));
    QMenu* menu = frame()->Menu(0);
    emit menu->aboutToShow();
    QStringList texts;
    QList<QAction*> items;
    for (QAction* item : menu->actions()) {
        const int id = item->data().toInt();
        if (id >= RecentFilesMenu::kFirstId && id < RecentFilesMenu::kFirstId + 4) {
            texts << item->text();
            items << item;
        }
    }
    QCOMPARE(texts, (QStringList{QStringLiteral("&1 ") + file(QStringLiteral("gone.jsonl")),
                                 QStringLiteral("&2 ") + file(QStringLiteral("recent.jsonl"))}));
    // One that is gone is dropped when chosen, with a message.
    items[0]->trigger();
    QCOMPARE(errors_.size(), 1);
    QVERIFY(errors_[0].contains(QStringLiteral("gone.jsonl")));
    QCOMPARE(RecentFileList::files(), QStringList{file(QStringLiteral("recent.jsonl"))});
    items[1]->trigger();
    QCOMPARE(session().rowCount(), 1);
}

void DocumentTest::runningDownloadsEndOnlyWhenTheUserAgrees_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("abort");
    const std::pair<const char*, int> commands[] = {
        {"new", ID_FILE_NEW}, {"open", ID_FILE_OPEN}, {"close", 0}, {"exit", ID_APP_EXIT}};
    for (const auto& [name, id] : commands) {
        QTest::addRow("%s, stay", name) << int(id) << false;
        QTest::addRow("%s, abort and go on", name) << int(id) << true;
    }
}

void DocumentTest::runningDownloadsEndOnlyWhenTheUserAgrees() {
    QFETCH(int, command);
    QFETCH(bool, abort);
    FixtureServer server(60);
    QVERIFY(server.running());
    DetectedStream record =
        stream("http://127.0.0.1:" + std::to_string(server.port()), "/stall/held.wmv");
    // Some bytes, then silence: the download stays open with a partial file.
    std::strcpy(record.query, "?size=100000&after=5000&hold=30");
    session().addStream(record);
    const QString target = file(QStringLiteral("held.wmv"));
    QVERIFY(session().startDownload(0, target.toStdString()));
    QTRY_VERIFY(LoadDownloadState(*session().record(0)) == kStateDownloading);
    QString list = file(QStringLiteral("other.jsonl"));
    std::ofstream(list.toStdString()) << "";
    abortAnswer_ = abort;
    saveAnswer_ = DocumentPrompts::SaveAnswer::kDiscard;  // the row's file is another question
    frame()->show();
    switch (command) {
        case ID_FILE_NEW:
            frame()->Action(ID_FILE_NEW)->trigger();
            break;
        case ID_FILE_OPEN:
            app_.OpenDocumentFile(list);
            break;
        case ID_APP_EXIT:
            frame()->Action(ID_APP_EXIT)->trigger();
            break;
        default:
            QCOMPARE(frame()->close(), abort);
    }
    QCOMPARE(asked_, 1);
    session().reapEndedDownloads();
    if (!abort) {
        // Nothing happened: the download runs on in its listed row.
        QCOMPARE(session().downloadCount(), 1);
        QVERIFY(QFileInfo::exists(file(QStringLiteral(".held.wmv.part"))));
        QCOMPARE(session().rowCount(), 1);
        QCOMPARE(exits_, 0);
        QVERIFY(frame()->isVisible());
        QVERIFY(session().cancelDownload(0));
        QTRY_COMPARE((session().reapEndedDownloads(), session().downloadCount()), 0);
        return;
    }
    // The download ended through the session before the command went on; its partial file is
    // handled as the abort command handles it.
    QCOMPARE(session().downloadCount(), 0);
    QVERIFY(!QFileInfo::exists(file(QStringLiteral(".held.wmv.part"))));
    QVERIFY(!QFileInfo::exists(target));
    QCOMPARE(exits_, command == ID_APP_EXIT ? 1 : 0);
    if (command == ID_FILE_NEW || command == ID_FILE_OPEN) {
        QCOMPARE(session().rowCount(), 0);
    }
}

namespace {

// Ways to drop the rows that are not menu commands.
constexpr int kCloseWindow = 0;
constexpr int kOpenRecentFile = 1;

int linesOf(const QString& path) {
    if (!QFileInfo::exists(path)) {
        return -1;
    }
    const std::string text = readFile(path);
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

// New, open, a recent file, closing and exit each drop the list's rows: one the list's file
// does not hold goes only once the user has saved it or said so.
void DocumentTest::unsavedRowsGoOnlyWhenTheUserSays_data() {
    QTest::addColumn<int>("command");  // a command id, or one of the two below
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("titled");  // the list has a file of its own (two of its rows)
    QTest::addColumn<int>("saved");    // lines in the file saved to afterwards; -1: none
    using A = DocumentPrompts::SaveAnswer;
    const std::pair<const char*, int> commands[] = {{"new", ID_FILE_NEW},
                                                    {"open", ID_FILE_OPEN},
                                                    {"recent", kOpenRecentFile},
                                                    {"close", kCloseWindow},
                                                    {"exit", ID_APP_EXIT}};
    for (const auto& [name, id] : commands) {
        QTest::addRow("%s, save", name) << id << int(A::kSave) << true << 3;
        QTest::addRow("%s, do not save", name) << id << int(A::kDiscard) << true << 2;
        QTest::addRow("%s, cancel", name) << id << int(A::kCancel) << true << 2;
    }
    QTest::newRow("untitled, saved") << int(ID_FILE_NEW) << int(A::kSave) << false << 3;
    QTest::newRow("untitled, no name given") << 0 << int(A::kSave) << false << -1;
}

void DocumentTest::unsavedRowsGoOnlyWhenTheUserSays() {
    QFETCH(int, command);
    QFETCH(int, answer);
    QFETCH(bool, titled);
    QFETCH(int, saved);
    const QString mine = file(QStringLiteral("mine.jsonl"));
    const QString other = file(QStringLiteral("other.jsonl"));
    std::ofstream(other.toStdString()) << "";
    QFile::remove(mine);
    addRows(2);
    QString error;
    QVERIFY(!titled || app_.Document()->OnSaveDocument(mine, &error));
    addRows(3);
    saveAnswer_ = static_cast<DocumentPrompts::SaveAnswer>(answer);
    saveName_ = titled || saved < 0 ? QString() : mine;  // none given: a cancel
    frame()->show();
    bool closed = false;
    if (command == kCloseWindow) {
        closed = frame()->close();
    } else if (command == kOpenRecentFile) {
        app_.OpenRecentFile(other);
    } else if (command == ID_FILE_OPEN) {
        app_.OpenDocumentFile(other);
    } else {
        frame()->Action(command)->trigger();
    }
    QCOMPARE(savesAsked_,
             QStringList{titled ? QStringLiteral("mine.jsonl") : QStringLiteral("Untitled")});
    QCOMPARE(linesOf(mine), saved);
    const bool goesOn = saveAnswer_ == DocumentPrompts::SaveAnswer::kDiscard || saved == 3;
    QCOMPARE(exits_, command == ID_APP_EXIT && goesOn ? 1 : 0);
    QCOMPARE(closed, command == kCloseWindow && goesOn);
    QCOMPARE(session().rowCount(),
             goesOn && command != kCloseWindow && command != ID_APP_EXIT ? 0 : 3);
    QVERIFY(goesOn || app_.Document()->IsModified());  // nothing happened
}

// Rows taken out leave a list its file no longer matches, whatever their count; an empty list
// without a file holds nothing to lose.
void DocumentTest::rowsTakenOutMakeTheListUnsaved() {
    addRows(2);
    QString error;
    QVERIFY(app_.Document()->OnSaveDocument(file(QStringLiteral("two.jsonl")), &error));
    app_.Document()->SetModifiedFlag();
    QTRY_COMPARE(frame()->windowTitle(), QStringLiteral("two.jsonl* - Quorvex"));
    frame()->OnFileSave();
    QVERIFY(!app_.Document()->IsModified());
    app_.OnFileNew();
    app_.Document()->SetModifiedFlag();
    QVERIFY(!app_.Document()->IsModified());
}

// Live rows would mix with the file's: opening one while monitoring asks to stop first.
void DocumentTest::openingWhileMonitoringAsksToStopFirst() {
    std::ofstream(file(QStringLiteral("other.jsonl")).toStdString()) << "";
    adapters_ = 1;
    for (const bool stop : {false, true}) {
        frame()->Action(ID_MONITOR_START)->trigger();
        stopAnswer_ = stop;
        QCOMPARE(app_.OpenDocumentFile(file(QStringLiteral("other.jsonl"))), stop);
        QCOMPARE(frame()->IsMonitoring(), !stop);
    }
    QCOMPARE(stopsAsked_, 2);
    QVERIFY(app_.OpenDocumentFile(file(QStringLiteral("other.jsonl"))));
    QCOMPARE(stopsAsked_, 2);  // nothing to stop, nothing asked
}

// The question as the user sees it, and what its buttons and Escape answer.
void DocumentTest::theSaveQuestionOffersThreeAnswers() {
    using A = DocumentPrompts::SaveAnswer;
    const std::pair<QString, A> answers[] = {{QStringLiteral("保存"), A::kSave},
                                             {QStringLiteral("保存しない"), A::kDiscard},
                                             {QStringLiteral("キャンセル"), A::kCancel},
                                             {QString(), A::kCancel}};  // Escape
    for (const auto& [button, answer] : answers) {
        QStringList seen;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            seen << box->text();
            QAbstractButton* chosen = nullptr;
            for (QAbstractButton* each : box->buttons()) {
                seen << each->text();
                chosen = each->text() == button ? each : chosen;
            }
            chosen != nullptr ? chosen->click() : QTest::keyClick(box, Qt::Key_Escape);
            return true;
        });
        QCOMPARE(DocumentPrompts::AskSaveChanges(frame(), QStringLiteral("a.jsonl")), answer);
        std::sort(seen.begin() + 1, seen.end());
        QCOMPARE(seen,
                 (QStringList{QStringLiteral("変更を保存しますか?"), QStringLiteral("キャンセル"),
                              QStringLiteral("保存"), QStringLiteral("保存しない")}));
    }
}

int main(int argc, char** argv) {
    // Settings of the tests stay out of the user's home.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    CQuorvexApp app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    DocumentTest test(app);
    return QTest::qExec(&test, argc, argv);
}

#include "DocumentTest.moc"
