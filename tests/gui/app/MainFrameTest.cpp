#include <QAction>
#include <QDialogButtonBox>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>
#include <cstring>
#include <fstream>
#include <optional>
#include <span>
#include <thread>

#include "core/capture/CapturedPacket.h"
#include "core/detect/DetectedStream.h"
#include "core/detect/SuffixTable.h"
#include "core/session/MonitorSession.h"
#include "gui/app/CAboutDlg.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CQuorvexApp.h"
#include "gui/app/CQuorvexDoc.h"
#include "gui/app/CommandIds.h"
#include "gui/app/DownloadLimitSetting.h"
#include "gui/app/FrameFakes.h"
#include "gui/app/FrameViewAdapter.h"
#include "gui/app/RecentFileList.h"
#include "gui/app/RecentFilesMenu.h"
#include "gui/app/WatchedPortsSetting.h"
#include "gui/detect/CTreeArea.h"
#include "gui/detect/CTypeTreeCtrl.h"

namespace {

// One HTTP request for a media file, as a captured IPv4 datagram.
CapturedPacket httpRequestPacket(const std::string& path, const std::string& host) {
    const std::string payload = "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    CapturedPacket packet;
    std::uint8_t* d = packet.data;
    const std::size_t total = 40 + payload.size();
    d[0] = 0x45;
    d[2] = static_cast<std::uint8_t>(total >> 8);
    d[3] = static_cast<std::uint8_t>(total);
    d[8] = 64;
    d[9] = 6;
    const std::uint8_t src[4] = {10, 0, 0, 2};
    const std::uint8_t dst[4] = {10, 0, 0, 1};
    std::memcpy(d + 12, src, 4);
    std::memcpy(d + 16, dst, 4);
    d[20] = 0xc3;  // source port 50000
    d[21] = 0x50;
    d[23] = 80;  // destination port 80
    d[32] = 0x50;
    d[33] = 0x18;
    std::memcpy(d + 40, payload.data(), payload.size());
    packet.length = static_cast<std::uint32_t>(total);
    return packet;
}

}  // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

  public:
    explicit MainFrameTest(CQuorvexApp& app) : app_(app) {}

  private slots:
    void init();
    void cleanup();
    void menusHoldTheirItemsInOrder();
    void acceleratorsReachTheirCommands();
    void toolbarStatusTextsAndToolTips();
    void statusBarShowsReadyAndLockPanes();
    void statusBarCountsTheCapturedPackets();
    void captionIsDocumentTitleAndProgram();
    void enablingRules();
    void treePaneHiddenAtStartAndToggledDockedLeft();
    void startWithoutAdapterSaysSo_data();
    void startWithoutAdapterSaysSo();
    void startWithOneAdapterSkipsTheDialog();
    void startWithSeveralAdaptersAsksAndCancelKeepsState();
    void startWhileRunningSwitchesToTheChoice();
    void stopWhileStoppedOnlySetsTheState();
    void captureFailureIsShownAndStateReturnsToStopped_data();
    void captureFailureIsShownAndStateReturnsToStopped();
    void staleFailureOfAStoppedCaptureIsIgnored();
    void exitStopsMonitoringBeforeTheProcessEnds();
    void closeStopsMonitoringAndDetachesTheView();
    void packetsBecomeRowsOnTheCaptureThread();
    void settingsReloadTheSuffixListOnlyOnOk();
    void watchedPortsAreCheckedKeptAndGivenToTheSession();
    void downloadLimitIsCheckedKeptAndGivenToTheSession();
    void copyUrlForwardsToTheViewWithSelectionOnly();
    void saveWritesTheListAndRemembersIt();
    void aboutBoxShowsIconVersionAndOk();
    void listStatusFilterAndTypeTree();
    void toolkitTextsAreJapanese();
    void firstStartFitsTheScreenAndLaterRunsKeepWindowAndPane();
    void downloadEndIsNotifiedOnlyWhileTheWindowIsInactive_data();
    void downloadEndIsNotifiedOnlyWhileTheWindowIsInactive();

  private:
    FrameServices makeServices();
    CMainFrame* frame() const { return app_.MainFrame(); }
    QAction* act(int id) const { return frame()->Action(id); }

    CQuorvexApp& app_;
    QTemporaryDir dir_;
    CaptureLog log_;
    FakeView* view_ = nullptr;
    int adapterResult_ = 0;
    int dialogRuns_ = 0;
    int dialogInitial_ = -1;
    DialogResult dialogResult_ = DialogResult::kCancel;
    int dialogChoice_ = 0;
    DialogResult suffixDialogResult_ = DialogResult::kCancel;
    // The answers to the watched ports and download limit questions, in turn; then cancelled.
    std::vector<std::optional<QString>> portsAnswers_;
    QStringList portsShown_;
    std::string suffixFile_;
    QStringList errors_;
    QStringList notices_;
    int exits_ = 0;
};

FrameServices MainFrameTest::makeServices() {
    FrameServices services;
    services.createView = [this](MonitorSession&, UiBridge&) {
        view_ = new FakeView;
        return std::make_unique<FrameViewAdapter<FakeView>>(view_);
    };
    services.adapterSource = std::make_unique<FakeAdapterSource>(adapterResult_);
    services.captureFactory = std::make_unique<FakeCaptureFactory>(log_);
    services.runAdapterDialog = [this](QWidget*, int, const AdapterEntry*, int initial,
                                       int* chosen) {
        ++dialogRuns_;
        dialogInitial_ = initial;
        *chosen = dialogChoice_;
        return dialogResult_;
    };
    services.runSuffixDialog = [this](QWidget*, const std::string& path) {
        if (suffixDialogResult_ == DialogResult::kOk) {
            std::ofstream(path) << ".zzz\n";
        }
        return suffixDialogResult_;
    };
    services.askWatchedPorts = [this](QWidget*, const QString& current) {
        portsShown_ << current;
        std::optional<QString> answer;
        if (!portsAnswers_.empty()) {
            answer = portsAnswers_.front();
            portsAnswers_.erase(portsAnswers_.begin());
        }
        return answer;
    };
    services.askDownloadLimit = services.askWatchedPorts;
    services.showError = [this](QWidget*, const QString& text) { errors_.append(text); };
    services.notify = [this](const QString&, const QString& text) { notices_.append(text); };
    services.exitProcess = [this](int) {
        ++exits_;
        log_.events.push_back("exit");
    };
    services.suffixFilePath = [this] { return suffixFile_; };
    return services;
}

void MainFrameTest::init() {
    log_ = CaptureLog{};
    adapterResult_ = 0;
    dialogRuns_ = 0;
    dialogInitial_ = -1;
    dialogResult_ = DialogResult::kCancel;
    dialogChoice_ = 0;
    suffixDialogResult_ = DialogResult::kCancel;
    errors_.clear();
    notices_.clear();
    exits_ = 0;
    suffixFile_ = (dir_.path() + QStringLiteral("/sufix.txt")).toStdString();
    std::remove(suffixFile_.c_str());
    QSettings().clear();
    QVERIFY(app_.InitInstance(makeServices()));
}

void MainFrameTest::cleanup() {
    if (frame() != nullptr) {
        frame()->ShutdownWork();
    }
}

// Every menu item in order, as the path a user follows and the command it reaches ("-": a
// separator); no two items of a menu answer the same Alt and letter.
void MainFrameTest::menusHoldTheirItemsInOrder() {
    RecentFileList::add(QStringLiteral("/tmp/recent.jsonl"));
    const std::pair<const char*, int> paths[] = {
        {"ファイル(&F)/モニタリング開始", ID_MONITOR_START},
        {"ファイル(&F)/モニタリング停止", ID_MONITOR_STOP},
        {"ファイル(&F)/鍵ログ付きでブラウザを起動", ID_KEY_LOG_BROWSER},
        {"ファイル(&F)/-", 0},
        {"ファイル(&F)/新規作成(&N)", ID_FILE_NEW},
        {"ファイル(&F)/開く(&O)...", ID_FILE_OPEN},
        {"ファイル(&F)/上書き保存(&S)", ID_FILE_SAVE},
        {"ファイル(&F)/名前を付けて保存(&A)...", ID_FILE_SAVE_AS},
        {"ファイル(&F)/-", 0},
        {"ファイル(&F)/&1 /tmp/recent.jsonl", RecentFilesMenu::kFirstId},
        {"ファイル(&F)/-", 0},
        {"ファイル(&F)/アプリケーションの終了(&X)", ID_APP_EXIT},
        {"編集(&E)/元に戻す\tCtrl+Z(&U)", ID_EDIT_UNDO},
        {"編集(&E)/-", 0},
        {"編集(&E)/切り取り\tCtrl+X(&T)", ID_EDIT_CUT},
        {"編集(&E)/コピー\tCtrl+C(&C)", ID_EDIT_COPY},
        {"編集(&E)/貼り付け\tCtrl+V(&P)", ID_EDIT_PASTE},
        {"編集(&E)/-", 0},
        {"編集(&E)/設定...", ID_SETTINGS},
        {"編集(&E)/監視ポート(&W)...", ID_WATCHED_PORTS},
        {"編集(&E)/TLS ポート(&L)...", ID_TLS_PORTS},
        {"編集(&E)/鍵ログ ファイル(&G)...", ID_KEY_LOG_FILE},
        {"編集(&E)/Referer と User-Agent を送る(&R)", ID_SEND_REQUEST_CONTEXT},
        {"編集(&E)/Cookie を再利用する(&K)", ID_COOKIE_REUSE},
        {"編集(&E)/同時ダウンロード数(&D)...", ID_DOWNLOAD_LIMIT},
        {"表示(&V)/ツール バー(&T)", ID_VIEW_TOOLBAR},
        {"表示(&V)/ステータス バー(&S)", ID_VIEW_STATUS_BAR},
        {"表示(&V)/ツール　バー", ID_VIEW_TREEBAR},
        {"ヘルプ(&H)/バージョン情報 Quorvex(&A)...", ID_APP_ABOUT},
    };
    QStringList expected;
    for (const auto& [path, id] : paths) {
        expected << QStringLiteral("%1 %2").arg(QString::fromUtf8(path)).arg(id);
    }
    QStringList found;
    for (QAction* top : frame()->menuBar()->actions()) {
        emit top->menu()->aboutToShow();
        QMap<QKeySequence, QString> keys;
        for (QAction* item : top->menu()->actions()) {
            const QString text = item->isSeparator() ? QStringLiteral("-") : item->text();
            found << QStringLiteral("%1/%2 %3").arg(top->text(), text).arg(item->data().toInt());
            const QKeySequence key = QKeySequence::mnemonic(text);
            QVERIFY2(key.isEmpty() || !keys.contains(key),
                     qPrintable(keys.value(key) + " " + text));
            keys.insert(key, text);
        }
    }
    QCOMPARE(found, expected);
    QCOMPARE(act(ID_WATCHED_PORTS)->objectName(), QStringLiteral("ID_149"));
}

void MainFrameTest::acceleratorsReachTheirCommands() {
    const QList<QPair<QString, int>> keys{
        {QStringLiteral("Ctrl+Ins"), ID_EDIT_COPY},
        {QStringLiteral("Shift+Del"), ID_EDIT_CUT},
        {QStringLiteral("Ctrl+X"), ID_EDIT_CUT},
        {QStringLiteral("Ctrl+V"), ID_EDIT_PASTE},
        {QStringLiteral("Shift+Ins"), ID_EDIT_PASTE},
        {QStringLiteral("Alt+Backspace"), ID_EDIT_UNDO},
        {QStringLiteral("Ctrl+Z"), ID_EDIT_UNDO},
        {QStringLiteral("Ctrl+C"), ID_COPY_URL},
        {QStringLiteral("Ctrl+N"), ID_FILE_NEW},
        {QStringLiteral("Ctrl+O"), ID_FILE_OPEN},
        {QStringLiteral("Ctrl+P"), ID_FILE_PRINT},
        {QStringLiteral("Ctrl+S"), ID_FILE_SAVE},
        {QStringLiteral("Ctrl+B"), ID_MONITOR_START},
        {QStringLiteral("Ctrl+E"), ID_MONITOR_STOP},
        {QStringLiteral("F6"), ID_NEXT_PANE},
        {QStringLiteral("Shift+F6"), ID_PREV_PANE},
        {QStringLiteral("Ctrl+Q"), ID_APP_EXIT},
    };
    for (const auto& [key, id] : keys) {
        const QKeySequence sequence(key);
        int owners = 0;
        for (QAction* a : frame()->actions()) {
            if (a->shortcuts().contains(sequence)) {
                ++owners;
                QCOMPARE(a->data().toInt(), id);
            }
        }
        QVERIFY2(owners == 1, qPrintable(key));
    }
}

void MainFrameTest::toolbarStatusTextsAndToolTips() {
    const QList<QAction*> buttons = frame()->toolBar()->actions();
    QCOMPARE(buttons.size(), 8);
    // After the buttons: the list's filter field.
    QVERIFY(buttons[6]->isSeparator());
    QCOMPARE(frame()->toolBar()->widgetForAction(buttons[7])->objectName(),
             QStringLiteral("filterEdit"));
    const QList<int> ids{ID_FILE_NEW, ID_FILE_OPEN,     ID_FILE_SAVE,
                         0,           ID_MONITOR_START, ID_MONITOR_STOP};
    for (int i = 0; i < 6; ++i) {
        if (ids[i] == 0) {
            QVERIFY(buttons[i]->isSeparator());
        } else {
            QCOMPARE(buttons[i]->data().toInt(), ids[i]);
            QVERIFY(!buttons[i]->icon().isNull());
        }
    }
    QCOMPARE(frame()->toolBar()->iconSize(), QSize(16, 15));
    QCOMPARE(act(ID_MONITOR_START)->statusTip(), QStringLiteral("モニタリングを開始します。"));
    QCOMPARE(act(ID_MONITOR_START)->toolTip(), QStringLiteral("モニタリング開始"));
    QCOMPARE(act(ID_MONITOR_STOP)->statusTip(), QStringLiteral("モニタリングを停止します"));
    QCOMPARE(act(ID_MONITOR_STOP)->toolTip(), QStringLiteral("モニタリング停止"));
    QVERIFY(act(ID_VIEW_TREEBAR)->statusTip().isEmpty());
    QVERIFY(act(ID_SETTINGS)->statusTip().isEmpty());
    QVERIFY(act(ID_MONITOR_START)->isCheckable());
    QVERIFY(act(ID_MONITOR_STOP)->isCheckable());
}

void MainFrameTest::statusBarShowsReadyAndLockPanes() {
    const QList<QLabel*> labels = frame()->statusBar()->findChildren<QLabel*>();
    QStringList names;
    bool ready = false;
    for (QLabel* label : labels) {
        names << label->objectName();
        ready = ready || label->text() == QStringLiteral("レディ");
    }
    QVERIFY(ready);
    QVERIFY(names.contains(QStringLiteral("CAP")));
    QVERIFY(names.contains(QStringLiteral("NUM")));
    QVERIFY(names.contains(QStringLiteral("SCRL")));

    // Streams a full list drops are counted where the user sees them.
    auto* dropped = frame()->statusBar()->findChild<QLabel*>(QStringLiteral("droppedStreams"));
    QVERIFY(dropped != nullptr);
    QVERIFY(dropped->isHidden());
    MonitorSession& session = *frame()->Session();
    const int limit = session.rowLimit();
    QCOMPARE(limit, StreamStore::kDefaultRowLimit);
    session.setRowLimit(0);
    DetectedStream record{};
    std::strcpy(record.host, "http://flood");
    std::strcpy(record.path, "/1.asf");
    QCOMPARE(session.addStream(record), -1);
    QTRY_VERIFY(!dropped->isHidden());
    QCOMPARE(dropped->text(), QStringLiteral("破棄 1 件 (一覧の上限 0 件)"));
    session.setRowLimit(limit);
    session.reset();
    QTRY_VERIFY(dropped->isHidden());
}

// The capture's counts as the session has them, grouped by thousands, from the first start
// on; the last run's stay after the stop.
void MainFrameTest::statusBarCountsTheCapturedPackets() {
    QStatusBar* bar = frame()->statusBar();
    auto* packets = bar->findChild<QLabel*>(QStringLiteral("capturedPackets"));
    auto* lost = bar->findChild<QLabel*>(QStringLiteral("kernelDroppedPackets"));
    QVERIFY(packets != nullptr && lost != nullptr);
    QVERIFY(packets->isHidden() && lost->isHidden());
    adapterResult_ = 1;
    act(ID_MONITOR_START)->trigger();
    QTRY_VERIFY(!packets->isHidden() && !lost->isHidden());
    QCOMPARE(packets->text(), QStringLiteral("受信 0 パケット"));
    QCOMPARE(lost->text(), QStringLiteral("取りこぼし 0"));
    log_.statistics = {1234567, 8901, 1225666};
    QTRY_COMPARE(packets->text(), QStringLiteral("受信 1,234,567 パケット"));
    QCOMPARE(lost->text(), QStringLiteral("取りこぼし 8,901"));
    act(ID_MONITOR_STOP)->trigger();
    log_.statistics = {};  // the capture has gone; the session kept its counts
    QCOMPARE(frame()->Session()->captureStatistics().received, 1234567u);
    QVERIFY(!packets->isHidden());
}

// The status bar tells monitoring and rows; the filter field and the type tree reach the view.
void MainFrameTest::listStatusFilterAndTypeTree() {
    auto* rows = frame()->statusBar()->findChild<QLabel*>(QStringLiteral("listRows"));
    QVERIFY(rows != nullptr);
    QTRY_COMPARE(rows->text(), QStringLiteral("0 件"));
    adapterResult_ = 1;
    act(ID_MONITOR_START)->trigger();
    const QList<QLabel*> labels = frame()->statusBar()->findChildren<QLabel*>();
    QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
        return label->text() == QStringLiteral("監視中: eth0 (10.0.0.1)");
    }));
    act(ID_MONITOR_STOP)->trigger();

    DetectedStream record{};
    std::strcpy(record.host, "http://h");
    std::strcpy(record.path, "/1.asf");
    frame()->Session()->addStream(record);
    view_->shown = 0;
    view_->counts = {{QStringLiteral("Windows Media"), 1}, {QStringLiteral("MPEG"), 12345}};
    QTRY_COMPARE(rows->text(), QStringLiteral("0 / 1 件"));

    auto* filter = frame()->toolBar()->findChild<QLineEdit*>(QStringLiteral("filterEdit"));
    QVERIFY(filter != nullptr);
    filter->setText(QStringLiteral("clip"));
    QCOMPARE(view_->filter, QStringLiteral("clip"));

    CTypeTreeCtrl* tree = frame()->treeBar()->Tree();
    QTreeWidgetItem* root = tree->Root();
    QTRY_COMPARE(root->childCount(), 2);
    QCOMPARE(root->text(0), QStringLiteral("検出データ種別"));
    QCOMPARE(root->child(0)->text(0), QStringLiteral("MPEG (12,345)"));
    QCOMPARE(root->child(0)->toolTip(0), QStringLiteral("MPEG (12,345)"));
    QCOMPARE(root->child(1)->text(0), QStringLiteral("Windows Media (1)"));
    frame()->treeBar()->show();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->visualItemRect(root->child(1)).topLeft() + QPoint(4, 4));
    QCOMPARE(view_->type, QStringLiteral("Windows Media"));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->visualItemRect(root).topLeft() + QPoint(4, 4));
    QCOMPARE(view_->type, QString());
    frame()->Session()->reset();
}

void MainFrameTest::captionIsDocumentTitleAndProgram() {
    QCOMPARE(frame()->windowTitle(), QStringLiteral("Untitled - Quorvex"));
    QCOMPARE(view_->initialUpdates, 1);
}

void MainFrameTest::enablingRules() {
    frame()->UpdateCommandUI();
    QVERIFY(act(ID_MONITOR_START)->isEnabled());
    QVERIFY(act(ID_MONITOR_STOP)->isEnabled());
    QVERIFY(!act(ID_MONITOR_START)->isChecked());
    QVERIFY(act(ID_MONITOR_STOP)->isChecked());
    for (int id : {ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_PASTE}) {
        QVERIFY(!act(id)->isEnabled());
    }
    QVERIFY(!act(ID_COPY_URL)->isEnabled());
    QVERIFY(!act(ID_EDIT_COPY)->isEnabled());
    QVERIFY(act(ID_SETTINGS)->isEnabled());
    view_->current = true;
    frame()->UpdateCommandUI();
    QVERIFY(act(ID_COPY_URL)->isEnabled());
    QVERIFY(act(ID_EDIT_COPY)->isEnabled());
    // Showing a menu brings every mark up to date.
    view_->current = false;
    emit frame()->Menu(1)->aboutToShow();
    QVERIFY(!act(ID_COPY_URL)->isEnabled());
}

void MainFrameTest::treePaneHiddenAtStartAndToggledDockedLeft() {
    frame()->show();
    QVERIFY(frame()->treeBar()->isHidden());
    QVERIFY(!act(ID_VIEW_TREEBAR)->isChecked());
    act(ID_VIEW_TREEBAR)->trigger();
    QVERIFY(frame()->treeBar()->isVisible());
    QVERIFY(act(ID_VIEW_TREEBAR)->isChecked());
    QCOMPARE(frame()->dockWidgetArea(frame()->treeBar()), Qt::LeftDockWidgetArea);
    QVERIFY(!frame()->treeBar()->isFloating());
    act(ID_VIEW_TREEBAR)->trigger();
    QVERIFY(frame()->treeBar()->isHidden());
    QVERIFY(!act(ID_VIEW_TREEBAR)->isChecked());
}

void MainFrameTest::startWithoutAdapterSaysSo_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("said");
    QTest::newRow("no adapter") << 0 << QStringLiteral("見つかりませんでした");
    QTest::newRow("enumeration failed") << -3 << QStringLiteral("取得できませんでした");
}

void MainFrameTest::startWithoutAdapterSaysSo() {
    QFETCH(int, result);
    QFETCH(QString, said);
    adapterResult_ = result;
    act(ID_MONITOR_START)->trigger();
    QCOMPARE(log_.created, 0);
    QCOMPARE(dialogRuns_, 0);
    QCOMPARE(frame()->monitorState(), ID_MONITOR_STOP);
    QVERIFY(act(ID_MONITOR_STOP)->isChecked());
    QVERIFY(!act(ID_MONITOR_START)->isChecked());
    QCOMPARE(errors_.size(), 1);
    QVERIFY(errors_.first().contains(said));
}

void MainFrameTest::startWithOneAdapterSkipsTheDialog() {
    adapterResult_ = 1;
    act(ID_MONITOR_START)->trigger();
    QCOMPARE(dialogRuns_, 0);
    QCOMPARE(log_.created, 1);
    QCOMPARE(log_.started, 1);
    QCOMPARE(log_.startedOn, std::string("eth0"));
    QCOMPARE(frame()->monitorState(), ID_MONITOR_START);
    QVERIFY(frame()->IsMonitoring());
    QVERIFY(act(ID_MONITOR_START)->isChecked());
    act(ID_MONITOR_STOP)->trigger();
    QCOMPARE(log_.stopped, 1);
    QCOMPARE(log_.destroyed, 1);
    QCOMPARE(frame()->monitorState(), ID_MONITOR_STOP);
    QVERIFY(!frame()->IsMonitoring());
}

void MainFrameTest::startWithSeveralAdaptersAsksAndCancelKeepsState() {
    adapterResult_ = 3;
    dialogResult_ = DialogResult::kCancel;
    act(ID_MONITOR_START)->trigger();
    QCOMPARE(dialogRuns_, 1);
    QCOMPARE(dialogInitial_, 0);
    QCOMPARE(log_.created, 0);
    QCOMPARE(frame()->monitorState(), ID_MONITOR_STOP);

    dialogResult_ = DialogResult::kOk;
    dialogChoice_ = 2;
    act(ID_MONITOR_START)->trigger();
    QCOMPARE(log_.startedOn, std::string("eth2"));
    QCOMPARE(frame()->adapterIndex(), 2);
    QCOMPARE(frame()->adapterCount(), 3);

    // A dialog result out of range never becomes an index.
    act(ID_MONITOR_STOP)->trigger();
    dialogChoice_ = -1;
    act(ID_MONITOR_START)->trigger();
    QCOMPARE(log_.created, 1);
    QCOMPARE(frame()->adapterIndex(), 2);
}

void MainFrameTest::startWhileRunningSwitchesToTheChoice() {
    adapterResult_ = 2;
    dialogResult_ = DialogResult::kOk;
    dialogChoice_ = 0;
    act(ID_MONITOR_START)->trigger();
    QCOMPARE(log_.created, 1);
    dialogChoice_ = 1;
    act(ID_MONITOR_START)->trigger();
    QCOMPARE(dialogRuns_, 2);
    QCOMPARE(dialogInitial_, 0);
    QCOMPARE(log_.stopped, 1);
    QCOMPARE(log_.created, 2);
    QCOMPARE(log_.startedOn, std::string("eth1"));
    QCOMPARE(frame()->adapterIndex(), 1);
    QVERIFY(frame()->IsMonitoring());
    QVERIFY(act(ID_MONITOR_START)->isChecked());
    // The same adapter again: the capture goes on undisturbed.
    act(ID_MONITOR_START)->trigger();
    QCOMPARE(log_.created, 2);
    QCOMPARE(log_.stopped, 1);
}

void MainFrameTest::stopWhileStoppedOnlySetsTheState() {
    act(ID_MONITOR_STOP)->trigger();
    QCOMPARE(log_.stopped, 0);
    QCOMPARE(frame()->monitorState(), ID_MONITOR_STOP);
    QVERIFY(act(ID_MONITOR_STOP)->isChecked());
}

void MainFrameTest::captureFailureIsShownAndStateReturnsToStopped_data() {
    QTest::addColumn<QString>("reported");  // the interface the report names
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("cause");
    QTest::addColumn<QString>("shown");
    QTest::newRow("named") << "eth0"
                           << "eth0: You don't have permission"
                           << int(CaptureStatus::Cause::kUnknown)
                           << "eth0 でパケットのキャプチャを開始できませんでした。\n詳細: eth0: "
                              "You don't have permission";
    // The helper died before it opened anything: the adapter chosen is named all the same.
    QTest::newRow("unnamed") << ""
                             << "the capture helper ended unexpectedly (exit 1)"
                             << int(CaptureStatus::Cause::kHelperEnded)
                             << "eth0 でパケットのキャプチャを開始できませんでした。\n"
                                "キャプチャ補助プログラムが予期せず終了しました。";
}

void MainFrameTest::captureFailureIsShownAndStateReturnsToStopped() {
    QFETCH(QString, reported);
    QFETCH(QString, message);
    QFETCH(int, cause);
    QFETCH(QString, shown);
    adapterResult_ = 1;
    act(ID_MONITOR_START)->trigger();
    QVERIFY(log_.receiver != nullptr);
    std::thread([&] {
        log_.receiver->OnCaptureStatus({CaptureStatus::kFailed, reported.toStdString(),
                                        message.toStdString(),
                                        static_cast<CaptureStatus::Cause>(cause)});
    }).join();
    QTRY_COMPARE(frame()->monitorState(), ID_MONITOR_STOP);
    QVERIFY(!frame()->IsMonitoring());
    QCOMPARE(log_.stopped, 1);
    QCOMPARE(errors_, QStringList{shown});
    QVERIFY(act(ID_MONITOR_STOP)->isChecked());
}

void MainFrameTest::staleFailureOfAStoppedCaptureIsIgnored() {
    adapterResult_ = 1;
    act(ID_MONITOR_START)->trigger();
    PacketReceiver* receiver = log_.receiver;
    receiver->OnCaptureStatus({CaptureStatus::kLost, "eth0", "gone"});  // queued, not yet handled
    act(ID_MONITOR_STOP)->trigger();
    act(ID_MONITOR_START)->trigger();
    QCOMPARE(log_.created, 2);
    // The stale status was posted before this: handling what is pending handles it.
    QCoreApplication::processEvents();
    QVERIFY(frame()->IsMonitoring());
    QVERIFY(errors_.isEmpty());
}

void MainFrameTest::exitStopsMonitoringBeforeTheProcessEnds() {
    adapterResult_ = 1;
    act(ID_MONITOR_START)->trigger();
    act(ID_APP_EXIT)->trigger();
    QCOMPARE(exits_, 1);
    QCOMPARE(log_.events, (std::vector<std::string>{"stop", "exit"}));
    QCOMPARE(view_->shutdowns, 1);
    QVERIFY(!frame()->IsMonitoring());
}

void MainFrameTest::closeStopsMonitoringAndDetachesTheView() {
    adapterResult_ = 1;
    frame()->show();
    act(ID_MONITOR_START)->trigger();
    QVERIFY(frame()->close());
    QCOMPARE(log_.stopped, 1);
    QCOMPARE(log_.destroyed, 1);
    QCOMPARE(view_->shutdowns, 1);
    QCOMPARE(exits_, 0);
    // Packets that still arrive after the close reach nobody.
    const CapturedPacket packet = httpRequestPacket("/late.wmv", "example.test");
    log_.receiver->OnCapturedPacket(&packet);
    log_.receiver->OnPacketBatchEnd();
    QCOMPARE(frame()->Session()->rowCount(), 0);
}

void MainFrameTest::packetsBecomeRowsOnTheCaptureThread() {
    adapterResult_ = 1;
    act(ID_MONITOR_START)->trigger();
    const CapturedPacket packet = httpRequestPacket("/media/clip.wmv", "example.test");
    const CapturedPacket other = httpRequestPacket("/index.html", "example.test");
    // The user-interface thread is blocked in join(): the hand-off must not wait for it, and
    // the row exists when the capture thread's call returns.
    std::thread capture([&] {
        log_.receiver->OnCapturedPacket(&other);
        log_.receiver->OnPacketBatchEnd();
        log_.receiver->OnCapturedPacket(&packet);
        log_.receiver->OnPacketBatchEnd();
    });
    capture.join();
    MonitorSession& session = *frame()->Session();
    QCOMPARE(session.rowCount(), 1);
    DetectedStream row;
    QVERIFY(session.copyRecord(0, row));
    QVERIFY(std::strstr(row.path, "clip.wmv") != nullptr);
    QVERIFY(std::strstr(row.host, "example.test") != nullptr);
    QCOMPARE(row.adapterInfo[14], std::uint8_t(10));  // eth0's address
}

void MainFrameTest::settingsReloadTheSuffixListOnlyOnOk() {
    const auto before = frame()->treeBar()->GetSuffixTable();
    QCOMPARE(before->count(), 22);  // the default list
    suffixDialogResult_ = DialogResult::kCancel;
    act(ID_SETTINGS)->trigger();
    QCOMPARE(frame()->treeBar()->GetSuffixTable().get(), before.get());
    suffixDialogResult_ = DialogResult::kOk;
    act(ID_SETTINGS)->trigger();
    const auto after = frame()->treeBar()->GetSuffixTable();
    QCOMPARE(after->count(), 1);
    QCOMPARE(std::string(after->row(0).suffix), std::string(".zzz"));
}

void MainFrameTest::watchedPortsAreCheckedKeptAndGivenToTheSession() {
    const auto added = [this] {
        std::span<const std::uint16_t> ports = frame()->Session()->watchedPorts().added();
        return std::vector<std::uint16_t>(ports.begin(), ports.end());
    };
    QVERIFY(added().empty());
    portsAnswers_ = {QStringLiteral(" 8000, 8080 8000 ")};
    act(ID_WATCHED_PORTS)->trigger();
    QCOMPARE(added(), (std::vector<std::uint16_t>{8000, 8080}));
    QCOMPARE(QSettings().value(QStringLiteral("Settings/watchedPorts")).toString(),
             QStringLiteral("8000 8080"));
    QVERIFY(WatchedPortsSetting::Load() == frame()->Session()->watchedPorts());
    // A word that is no port is refused with a message and asked again as typed; the list
    // stays until an answer is taken or the question cancelled.
    for (const char* bad :
         {"8200 70000", "0", "http", "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17"}) {
        portsShown_.clear();
        portsAnswers_ = {QString::fromUtf8(bad), std::nullopt};
        act(ID_WATCHED_PORTS)->trigger();
        QCOMPARE(portsShown_, (QStringList{QStringLiteral("8000 8080"), QString::fromUtf8(bad)}));
        QCOMPARE(added(), (std::vector<std::uint16_t>{8000, 8080}));
    }
    QCOMPARE(errors_.size(), 4);
    portsShown_.clear();
    portsAnswers_ = {QStringLiteral("8000 x"), QStringLiteral("8000 9000")};  // mended
    act(ID_WATCHED_PORTS)->trigger();
    QCOMPARE(portsShown_, (QStringList{QStringLiteral("8000 8080"), QStringLiteral("8000 x")}));
    QCOMPARE(added(), (std::vector<std::uint16_t>{8000, 9000}));
    portsAnswers_ = {QString()};
    act(ID_WATCHED_PORTS)->trigger();
    QVERIFY(added().empty());
}

// The count is kept with the settings, taken by the session at once and at the next start; a
// count out of range is refused and asked again as typed.
void MainFrameTest::downloadLimitIsCheckedKeptAndGivenToTheSession() {
    QCOMPARE(frame()->Session()->downloadLimit(), 3);
    portsShown_.clear();
    portsAnswers_ = {QStringLiteral("0"), QStringLiteral("21"), QStringLiteral("x"),
                     QStringLiteral(" 5 ")};
    act(ID_DOWNLOAD_LIMIT)->trigger();
    QCOMPARE(portsShown_, (QStringList{QStringLiteral("3"), QStringLiteral("0"),
                                       QStringLiteral("21"), QStringLiteral("x")}));
    QCOMPARE(errors_.size(), 3);
    QCOMPARE(frame()->Session()->downloadLimit(), 5);
    QCOMPARE(QSettings().value(QStringLiteral("Settings/downloadLimit")).toString(),
             QStringLiteral("5"));
    QCOMPARE(DownloadLimitSetting::Load(), 5);
    portsAnswers_ = {std::nullopt};
    act(ID_DOWNLOAD_LIMIT)->trigger();
    QCOMPARE(frame()->Session()->downloadLimit(), 5);
}

void MainFrameTest::copyUrlForwardsToTheViewWithSelectionOnly() {
    frame()->OnCopyUrl();
    QCOMPARE(view_->copies, 0);
    view_->current = true;
    frame()->UpdateCommandUI();
    act(ID_COPY_URL)->trigger();
    QCOMPARE(view_->copies, 1);
    // Edit > Copy and Ctrl+Insert copy the same.
    act(ID_EDIT_COPY)->trigger();
    QCOMPARE(view_->copies, 2);
}

void MainFrameTest::saveWritesTheListAndRemembersIt() {
    const QString path = dir_.path() + QStringLiteral("/list.qvx");
    { std::ofstream(path.toStdString()) << "old content"; }
    // A file that is not a list of ours is never written over.
    QString error;
    QVERIFY(!app_.Document()->OnSaveDocument(path, &error));
    QVERIFY(error.contains(QStringLiteral("list.qvx")));
    QCOMPARE(QFileInfo(path).size(), qint64(11));
    { std::ofstream(path.toStdString(), std::ios::trunc); }
    DetectedStream record{};
    std::strcpy(record.scheme, "http");
    std::strcpy(record.host, "http://example.test");
    std::strcpy(record.path, "/a.wmv");
    frame()->Session()->addStream(record);
    QVERIFY(app_.Document()->OnSaveDocument(path, &error));
    QVERIFY(QFileInfo(path).size() > 0);
    QCOMPARE(frame()->windowTitle(), QStringLiteral("list.qvx - Quorvex"));
    QVERIFY(app_.OpenDocumentFile(path));
    QCOMPARE(view_->initialUpdates, 2);
    QCOMPARE(frame()->Session()->rowCount(), 1);
    for (int i = 0; i < 5; ++i) {
        RecentFileList::add(dir_.path() + QStringLiteral("/f%1").arg(i));
    }
    const QStringList recent = RecentFileList::files();
    QCOMPARE(recent.size(), 4);
    QVERIFY(recent.first().endsWith(QStringLiteral("/f4")));
    QVERIFY(!app_.OpenDocumentFile(dir_.path() + QStringLiteral("/missing")));
}

void MainFrameTest::aboutBoxShowsIconVersionAndOk() {
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("バージョン情報 Quorvex"));
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("version"))->text(),
             QStringLiteral("Quorvex Version " QUORVEX_VERSION));
    QVERIFY(!about.findChild<QLabel*>(QStringLiteral("note"))->text().isEmpty());
    QVERIFY(!about.findChild<QLabel*>(QStringLiteral("icon"))->pixmap().isNull());
    auto* ok = about.findChild<QPushButton*>(QStringLiteral("ok"));
    QVERIFY(ok->isDefault());
    // Right of the texts, at the top, inside the dialog.
    QVERIFY(ok->x() > about.findChild<QLabel*>(QStringLiteral("version"))->x());
    QVERIFY(about.rect().contains(ok->geometry()));
    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(about.result(), int(QDialog::Accepted));
}

void MainFrameTest::toolkitTextsAreJapanese() {
    if (!app_.LoadToolkitTranslations()) {
        QSKIP("the toolkit's translations are not installed");
    }
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("キャンセル"));
}

void MainFrameTest::firstStartFitsTheScreenAndLaterRunsKeepWindowAndPane() {
    const QRect screen = frame()->screen()->availableGeometry();
    QVERIFY(screen.contains(frame()->geometry()));
    QVERIFY(frame()->width() >= std::min(640, screen.width()));
    frame()->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame()));
    frame()->resize(700, 500);
    act(ID_VIEW_TREEBAR)->trigger();
    QTRY_VERIFY(!frame()->treeBar()->isHidden());
    frame()->resizeDocks({frame()->treeBar()}, {230}, Qt::Horizontal);
    QTRY_COMPARE(frame()->treeBar()->width(), 230);
    frame()->close();

    QVERIFY(app_.InitInstance(makeServices()));
    frame()->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame()));
    QCOMPARE(frame()->size(), QSize(700, 500));
    QTRY_VERIFY(!frame()->treeBar()->isHidden());
    QTRY_COMPARE(frame()->treeBar()->width(), 230);
}

void MainFrameTest::downloadEndIsNotifiedOnlyWhileTheWindowIsInactive_data() {
    QTest::addColumn<bool>("active");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("notice");  // empty: none
    using Kind = DownloadOutcome::Kind;
    QTest::newRow("completed, elsewhere")
        << false << int(Kind::kCompleted) << QStringLiteral("ダウンロードが完了しました: a.wmv");
    QTest::newRow("failed, elsewhere")
        << false << int(Kind::kFailed)
        << QStringLiteral("ダウンロードに失敗しました: a.wmv\nファイルに書き込めません。 (28)");
    QTest::newRow("cancelled, elsewhere")
        << false << int(Kind::kCancelled) << QStringLiteral("ダウンロードを中止しました: a.wmv");
    QTest::newRow("completed, watched") << true << int(Kind::kCompleted) << QString();
    QTest::newRow("failed, watched") << true << int(Kind::kFailed) << QString();
}

void MainFrameTest::downloadEndIsNotifiedOnlyWhileTheWindowIsInactive() {
    QFETCH(bool, active);
    QFETCH(int, kind);
    QFETCH(QString, notice);
    if (active) {
        frame()->show();
        QApplication::setActiveWindow(frame());
        if (!QTest::qWaitForWindowActive(frame())) {
            QSKIP("this platform does not activate windows");
        }
    }
    DetectedStream stream{};
    std::strcpy(stream.scheme, "http");
    std::strcpy(stream.host, "http://h");
    std::strcpy(stream.path, "/a.wmv");
    frame()->Session()->addStream(stream);
    // Where the download went, as its worker writes it.
    std::strcpy(const_cast<DetectedStream*>(frame()->Session()->record(0))->localFile,
                "/tmp/q/a.wmv");
    DownloadOutcome outcome;
    outcome.kind = static_cast<DownloadOutcome::Kind>(kind);
    outcome.message = "ファイルに書き込めません。 (28)";
    frame()->OnDownloadEnded(0, outcome);
    QCOMPARE(notices_, notice.isEmpty() ? QStringList() : QStringList{notice});
}

int main(int argc, char** argv) {
    // Settings of the tests stay out of the user's home.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    CQuorvexApp app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    MainFrameTest test(app);
    return QTest::qExec(&test, argc, argv);
}

#include "MainFrameTest.moc"
