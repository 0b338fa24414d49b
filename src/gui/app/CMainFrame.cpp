#include "gui/app/CMainFrame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <cstring>

#include "core/detect/DetectedStream.h"
#include "core/session/KeyLogBrowser.h"
#include "core/session/MonitorSession.h"
#include "gui/app/ActionRow.h"
#include "gui/app/CQuorvexDoc.h"
#include "gui/app/CaptureFailureText.h"
#include "gui/app/CommandIds.h"
#include "gui/app/CountText.h"
#include "gui/app/DownloadGuard.h"
#include "gui/app/DownloadLimitSetting.h"
#include "gui/app/DownloadNotice.h"
#include "gui/app/FailureText.h"
#include "gui/app/KeyLockState.h"
#include "gui/app/KeyLogFileSetting.h"
#include "gui/app/RecentFileList.h"
#include "gui/app/RecentFilesMenu.h"
#include "gui/app/TlsPortsSetting.h"
#include "gui/app/ToolbarIcons.h"
#include "gui/app/UiBridge.h"
#include "gui/app/UnreadConnectionsNote.h"
#include "gui/app/WatchedPortsSetting.h"
#include "gui/app/WindowPlacement.h"
#include "gui/detect/CTreeArea.h"
#include "gui/detect/CTypeTreeCtrl.h"

#include <arpa/inet.h>
#include <cstring>

namespace {

// Idle-time refresh of command states and lock indicators, as often as a user can notice.
constexpr int kIdleIntervalMs = 200;

const QString kWindowGroup = QStringLiteral("Settings");

// Restores the normal cursor when a start of monitoring returns, whichever way it returns.
class WaitCursor {
  public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { Release(); }
    void Release() {
        if (active_) {
            QApplication::restoreOverrideCursor();
            active_ = false;
        }
    }

  private:
    bool active_ = true;
};

}  // namespace

namespace {

const QString kSendRequestContextKey = QStringLiteral("Settings/sendRequestContext");
const QString kCookieReuseKey = QStringLiteral("Settings/cookieReuse");

QString browserFailureText(const KeyLogBrowser::Outcome& outcome) {
    if (outcome.failure == KeyLogBrowser::Failure::kNoBrowser) {
        return QStringLiteral(
            "鍵ログを書き出せるブラウザが見つかりません。\n"
            "Chromium か Firefox をインストールしてから、もう一度お試しください。");
    }
    QString text = QStringLiteral("鍵ログ付きでブラウザを起動できませんでした。");
    if (!outcome.detail.empty()) {
        text += QStringLiteral("\n詳細: ") + FailureText::visible(outcome.detail);
    }
    return text;
}

}  // namespace

CMainFrame::CMainFrame(CQuorvexDoc* document, FrameServices services, QWidget* parent)
    : QMainWindow(parent),
      document_(document),
      services_(std::move(services)),
      bridge_(std::make_unique<UiBridge>()) {
    setWindowIcon(QApplication::windowIcon());
    session_ =
        std::make_unique<MonitorSession>(bridge_->callbacks(), std::move(services_.captureFactory));
    session_->setWatchedPorts(WatchedPortsSetting::Load());
    session_->setDownloadLimit(DownloadLimitSetting::Load());
    connect(bridge_.get(), &UiBridge::captureStatus, this, &CMainFrame::OnCaptureStatus);
    connect(bridge_.get(), &UiBridge::downloadEnded, this, &CMainFrame::OnDownloadEnded);
    // The list's bound: the settings' "maxStreams" when it is a sensible count.
    bool valid = false;
    const int limit = QSettings().value(QStringLiteral("maxStreams")).toInt(&valid);
    if (valid && limit > 0) {
        session_->setRowLimit(limit);
    }
}

CMainFrame::~CMainFrame() {
    ShutdownWork();
    // The view and the pane refer to the session: they go first.
    delete takeCentralWidget();
    delete treeBar_;
    treeBar_ = nullptr;
}

bool CMainFrame::IsMonitoring() const {
    return session_->isCapturing();
}

bool CMainFrame::Create() {
    CreateActions();
    CreateMenus();
    if (!CreateToolBar() || !CreateStatusBar()) {
        return false;
    }
    CreateView();
    if (!CreateTreeBar()) {
        return false;
    }
    monitorState_ = ID_MONITOR_STOP;
    treeBar_->hide();

    keyLocks_ = std::make_unique<KeyLockState>();
    idleTimer_ = new QTimer(this);
    connect(idleTimer_, &QTimer::timeout, this, &CMainFrame::OnIdle);
    idleTimer_->start(kIdleIntervalMs);

    if (document_ != nullptr) {
        connect(document_, &CQuorvexDoc::titleChanged, this, &CMainFrame::UpdateCaption);
    }
    UpdateCaption();
    UpdateCommandUI();
    UpdateListStatus();
    return true;
}

// The list's view, when the services make one; rows the user removes mark the document changed.
void CMainFrame::CreateView() {
    if (services_.createView) {
        view_ = services_.createView(*session_, *bridge_);
    }
    if (view_ == nullptr) {
        return;
    }
    setCentralWidget(view_->Widget());
    view_->OnRowsRemoved([this] {
        if (document_ != nullptr) {
            document_->SetModifiedFlag();
        }
    });
}

void CMainFrame::OnIdle() {
    UpdateCommandUI();
    UpdateLockIndicators();
    UpdateDroppedStreams();
    UpdatePacketCounts();
    UpdateListStatus();
    UpdateCaption();
    // Browsers that ended are reaped; their key log stays for the session.
    for (const std::unique_ptr<KeyLogBrowser>& browser : browsers_) {
        browser->running();
    }
}

QAction* CMainFrame::Action(int commandId) const {
    auto it = actions_.find(commandId);
    return it == actions_.end() ? nullptr : it->second;
}

QMenu* CMainFrame::Menu(int index) const {
    return index >= 0 && index < static_cast<int>(menus_.size()) ? menus_[index] : nullptr;
}

namespace {

// Every command of the menus, toolbar and keyboard, in the order the window holds them. The few
// that need more than a row (the monitoring pair, the view switches, the request switches) get
// it in CMainFrame::CreateActions.
// clang-format off
constexpr ActionRow kActionRows[] = {
    // command id, text, "status text\ntool tip", keys, toolbar picture, handler
    {ID_MONITOR_START, u"モニタリング開始", u"モニタリングを開始します。\nモニタリング開始",
     {u"Ctrl+B"}, &ToolbarIcons::monitorStart, &CMainFrame::OnStartMonitoring},
    {ID_MONITOR_STOP, u"モニタリング停止", u"モニタリングを停止します\nモニタリング停止",
     {u"Ctrl+E"}, &ToolbarIcons::monitorStop, &CMainFrame::OnStopMonitoring},
    {ID_FILE_SAVE_AS, u"名前を付けて保存(&A)...",
     u"アクティブなドキュメントを新しい名前で保存します\n名前を付けて保存", {}, nullptr,
     &CMainFrame::OnFileSaveAs},
    {ID_APP_EXIT, u"アプリケーションの終了(&X)", u"アプリケーションを終了します\n終了",
     {u"Ctrl+Q"}, nullptr, nullptr},
    {ID_EDIT_UNDO, u"元に戻す\tCtrl+Z(&U)", u"直前に行った動作を元に戻します\n元に戻す",
     {u"Ctrl+Z", u"Alt+Backspace"}, nullptr, nullptr},
    {ID_EDIT_CUT, u"切り取り\tCtrl+X(&T)",
     u"選択範囲を切り取ってクリップボードに移動します\n切り取り", {u"Ctrl+X", u"Shift+Del"},
     nullptr, nullptr},
    // Ctrl+C itself belongs to the copy-URL command, which copies the same.
    {ID_EDIT_COPY, u"コピー\tCtrl+C(&C)",
     u"選択範囲をコピーしてクリップボードに保存します\nコピー", {u"Ctrl+Ins"}, nullptr,
     &CMainFrame::OnCopyUrl},
    {ID_EDIT_PASTE, u"貼り付け\tCtrl+V(&P)", u"クリップボードの内容を挿入します\n貼り付け",
     {u"Ctrl+V", u"Shift+Ins"}, nullptr, nullptr},
    {ID_SETTINGS, u"設定...", {}, {}, nullptr, &CMainFrame::OnSettings},
    {ID_WATCHED_PORTS, u"監視ポート(&W)...",
     u"80、1755、554 のほかに監視する TCP ポートを設定します\n監視ポート", {}, nullptr,
     &CMainFrame::OnWatchedPorts},
    {ID_TLS_PORTS, u"TLS ポート(&L)...",
     u"443 のほかに TLS (HTTPS) として読む TCP ポートを設定します\nTLS ポート", {}, nullptr,
     &CMainFrame::OnTlsPorts},
    {ID_KEY_LOG_FILE, u"鍵ログ ファイル(&G)...",
     u"HTTPS を読むための鍵をブラウザが書き出すファイル (SSLKEYLOGFILE) を"
     u"設定します\n鍵ログ ファイル",
     {}, nullptr, &CMainFrame::OnKeyLogFile},
    {ID_KEY_LOG_BROWSER, u"鍵ログ付きでブラウザを起動",
     u"HTTPS の鍵を Quorvex だけが読める鍵ログに書き出すブラウザを、新しい"
     u"プロファイルで起動します\n鍵ログ付きでブラウザを起動",
     {}, nullptr, &CMainFrame::OnStartKeyLogBrowser},
    {ID_SEND_REQUEST_CONTEXT, u"Referer と User-Agent を送る(&R)",
     u"ダウンロードで、検出した要求の Referer と User-Agent を送ります"
     u"（これがないと拒むサーバがあります）\nReferer と User-Agent を送る",
     {}, nullptr, nullptr},
    {ID_COOKIE_REUSE, u"Cookie を再利用する(&K)",
     u"検出した要求の Cookie を保存し、その取得元のホストへのダウンロードにだけ"
     u"送ります。共有ネットワークでは他人のログインを使うことになります"
     u"（コマンドとしてコピーでは、ffmpeg と yt-dlp の形には Cookie を含めません）"
     u"\nCookie を再利用する",
     {}, nullptr, nullptr},
    {ID_DOWNLOAD_LIMIT, u"同時ダウンロード数(&D)...",
     u"同時に実行するダウンロードの数を設定します。超えた分は順番を待ちます"
     u"\n同時ダウンロード数",
     {}, nullptr, &CMainFrame::OnDownloadLimit},
    {ID_VIEW_TOOLBAR, u"ツール バー(&T)",
     u"ツール バーの表示/非表示を切り替えます\nツール バーの表示切り替え", {}, nullptr,
     &CMainFrame::OnViewToolBar},
    {ID_VIEW_STATUS_BAR, u"ステータス バー(&S)",
     u"ステータス バーの表示/非表示を切り替えます\nステータス バーの表示切り替え", {}, nullptr,
     &CMainFrame::OnViewStatusBar},
    {ID_VIEW_TREEBAR, u"ツール　バー", {}, {}, nullptr, &CMainFrame::OnViewTreeBar},
    {ID_APP_ABOUT, u"バージョン情報 Quorvex(&A)...",
     u"プログラムの情報、バージョンを表示します\nバージョン情報", {}, nullptr, nullptr},
    {ID_FILE_NEW, u"新規作成(&N)", u"新規にファイルを作成します\n新規作成", {u"Ctrl+N"},
     &ToolbarIcons::fileNew, nullptr},
    {ID_FILE_OPEN, u"開く(&O)...", u"既存のファイルを開きます\n開く", {u"Ctrl+O"},
     &ToolbarIcons::fileOpen, nullptr},
    {ID_FILE_SAVE, u"上書き保存(&S)", u"アクティブなドキュメントを保存します\n上書き保存",
     {u"Ctrl+S"}, &ToolbarIcons::fileSave, &CMainFrame::OnFileSave},
    {ID_COPY_URL, u"URLをコピー", {}, {u"Ctrl+C"}, nullptr, &CMainFrame::OnCopyUrl},
    // Accelerators of commands that nothing handles: they exist, and stay disabled.
    {ID_FILE_PRINT, {}, {}, {u"Ctrl+P"}, nullptr, nullptr},
    {ID_NEXT_PANE, {}, {}, {u"F6"}, nullptr, nullptr},
    {ID_PREV_PANE, {}, {}, {u"Shift+F6"}, nullptr, nullptr},
    {ID_FILE_PRINT_SETUP, {}, {}, {}, nullptr, nullptr},
};
// clang-format on

// A prompt is "status text\ntool tip"; without a tool tip the action shows its text.
void applyPrompt(QAction* act, QStringView prompt) {
    if (prompt.isEmpty()) {
        return;
    }
    const qsizetype newline = prompt.indexOf(u'\n');
    act->setStatusTip(prompt.left(newline).toString());
    if (newline >= 0) {
        act->setToolTip(prompt.mid(newline + 1).toString());
    }
}

QList<QKeySequence> keySequences(const std::array<QStringView, 2>& shortcuts) {
    QList<QKeySequence> keys;
    for (QStringView shortcut : shortcuts) {
        if (!shortcut.isEmpty()) {
            keys.append(QKeySequence(shortcut.toString()));
        }
    }
    return keys;
}

}  // namespace

QAction* CMainFrame::AddAction(const ActionRow& row) {
    auto* act = new QAction(row.text.toString(), this);
    act->setData(row.commandId);
    act->setObjectName(QStringLiteral("ID_%1").arg(row.commandId));
    applyPrompt(act, row.prompt);
    const QList<QKeySequence> keys = keySequences(row.shortcuts);
    if (!keys.isEmpty()) {
        act->setShortcuts(keys);
    }
    if (row.icon != nullptr) {
        act->setIcon(row.icon());
    }
    if (row.handler != nullptr) {
        connect(act, &QAction::triggered, this, row.handler);
    }
    actions_[row.commandId] = act;
    addAction(act);  // keeps accelerators alive when the menu or toolbar is hidden
    return act;
}

void CMainFrame::CreateActions() {
    for (const ActionRow& row : kActionRows) {
        AddAction(row);
    }
    GroupMonitorActions();
    for (int id : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, ID_VIEW_TREEBAR}) {
        Action(id)->setCheckable(true);
    }
    KeepRequestContextSwitches();
    // After each command's own handler: the menus and toolbar show what it left.
    for (auto& [id, act] : actions_) {
        connect(act, &QAction::triggered, this, [this] { UpdateCommandUI(); });
    }
}

// Start and stop are one radio pair: the menu marks the state, the toolbar shows the pictures.
void CMainFrame::GroupMonitorActions() {
    auto* group = new QActionGroup(this);
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::Exclusive);
    for (int id : {ID_MONITOR_START, ID_MONITOR_STOP}) {
        QAction* act = Action(id);
        act->setCheckable(true);
        act->setIconVisibleInMenu(false);
        group->addAction(act);
    }
}

// Two switches kept with the settings: sending the detected request's Referer and
// User-Agent with a download (on unless turned off), and cookie reuse (off unless turned on).
void CMainFrame::KeepRequestContextSwitches() {
    QSettings settings;
    QAction* context = Action(ID_SEND_REQUEST_CONTEXT);
    context->setCheckable(true);
    context->setChecked(settings.value(kSendRequestContextKey, true).toBool());
    session_->setSendRequestContext(context->isChecked());
    connect(context, &QAction::toggled, this, [this](bool on) {
        session_->setSendRequestContext(on);
        QSettings().setValue(kSendRequestContextKey, on);
    });
    // Off by default: on a shared network a captured cookie is someone else's login.
    QAction* cookies = Action(ID_COOKIE_REUSE);
    cookies->setCheckable(true);
    cookies->setChecked(settings.value(kCookieReuseKey, false).toBool());
    session_->setCookieReuse(cookies->isChecked());
    connect(cookies, &QAction::toggled, this, [this](bool on) {
        session_->setCookieReuse(on);
        QSettings().setValue(kCookieReuseKey, on);
    });
}

void CMainFrame::OnViewToolBar() {
    toolBar_->setVisible(toolBar_->isHidden());
    UpdateCommandUI();
}

void CMainFrame::OnViewStatusBar() {
    statusBar()->setVisible(statusBar()->isHidden());
    UpdateCommandUI();
}

void CMainFrame::CreateMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    file->addAction(Action(ID_MONITOR_START));
    file->addAction(Action(ID_MONITOR_STOP));
    file->addAction(Action(ID_KEY_LOG_BROWSER));
    file->addSeparator();
    file->addAction(Action(ID_FILE_NEW));
    file->addAction(Action(ID_FILE_OPEN));
    file->addAction(Action(ID_FILE_SAVE));
    file->addAction(Action(ID_FILE_SAVE_AS));
    file->addSeparator();
    file->addAction(Action(ID_APP_EXIT));
    recentFiles_ = new RecentFilesMenu(file, Action(ID_APP_EXIT));

    QMenu* edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
    edit->addAction(Action(ID_EDIT_UNDO));
    edit->addSeparator();
    edit->addAction(Action(ID_EDIT_CUT));
    edit->addAction(Action(ID_EDIT_COPY));
    edit->addAction(Action(ID_EDIT_PASTE));
    edit->addSeparator();
    edit->addAction(Action(ID_SETTINGS));
    edit->addAction(Action(ID_WATCHED_PORTS));
    edit->addAction(Action(ID_TLS_PORTS));
    edit->addAction(Action(ID_KEY_LOG_FILE));
    edit->addAction(Action(ID_SEND_REQUEST_CONTEXT));
    edit->addAction(Action(ID_COOKIE_REUSE));
    edit->addAction(Action(ID_DOWNLOAD_LIMIT));

    QMenu* view = menuBar()->addMenu(QStringLiteral("表示(&V)"));
    view->addAction(Action(ID_VIEW_TOOLBAR));
    view->addAction(Action(ID_VIEW_STATUS_BAR));
    view->addAction(Action(ID_VIEW_TREEBAR));

    QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    help->addAction(Action(ID_APP_ABOUT));

    menus_ = {file, edit, view, help};
    for (QMenu* m : menus_) {
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    }
}

bool CMainFrame::CreateToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("ツール バー"), this);
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setIconSize(QSize(16, 15));
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    toolBar_->addAction(Action(ID_FILE_NEW));
    toolBar_->addAction(Action(ID_FILE_OPEN));
    toolBar_->addAction(Action(ID_FILE_SAVE));
    toolBar_->addSeparator();
    toolBar_->addAction(Action(ID_MONITOR_START));
    toolBar_->addAction(Action(ID_MONITOR_STOP));
    toolBar_->addSeparator();
    filterEdit_ = new QLineEdit(toolBar_);
    filterEdit_->setObjectName(QStringLiteral("filterEdit"));
    filterEdit_->setPlaceholderText(QStringLiteral("ホスト・パスで絞り込み"));
    filterEdit_->setClearButtonEnabled(true);
    filterEdit_->setMaximumWidth(240);
    connect(filterEdit_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (view_ != nullptr) {
            view_->SetFilterText(text);
        }
    });
    toolBar_->addWidget(filterEdit_);
    addToolBar(Qt::TopToolBarArea, toolBar_);
    return true;
}

bool CMainFrame::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    readyLabel_ = new QLabel(QStringLiteral("レディ"), bar);
    bar->addWidget(readyLabel_, 1);
    auto indicator = [bar](const QString& text) {
        auto* label = new QLabel(bar);
        label->setObjectName(text);
        label->setAlignment(Qt::AlignCenter);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(text) + 12);
        bar->addPermanentWidget(label);
        return label;
    };
    // Shown once a capture has run; they change only with the capture's counts.
    packetsLabel_ = new QLabel(bar);
    packetsLabel_->setObjectName(QStringLiteral("capturedPackets"));
    packetsLabel_->setToolTip(QStringLiteral("キャプチャのフィルタを通ったパケットの数"));
    packetsLabel_->hide();
    bar->addPermanentWidget(packetsLabel_);
    lostPacketsLabel_ = new QLabel(bar);
    lostPacketsLabel_->setObjectName(QStringLiteral("kernelDroppedPackets"));
    lostPacketsLabel_->setToolTip(
        QStringLiteral("受信バッファが足りず、カーネルが捨てたパケットの数"));
    lostPacketsLabel_->hide();
    bar->addPermanentWidget(lostPacketsLabel_);
    rowsLabel_ = new QLabel(bar);
    rowsLabel_->setObjectName(QStringLiteral("listRows"));
    bar->addPermanentWidget(rowsLabel_);
    // Shown only once the list has had to drop new streams.
    droppedLabel_ = new QLabel(bar);
    droppedLabel_->setObjectName(QStringLiteral("droppedStreams"));
    droppedLabel_->hide();
    bar->addPermanentWidget(droppedLabel_);
    // Server names come from the network: never read as rich text.
    unreadLabel_ = new QLabel(bar);
    unreadLabel_->setObjectName(QStringLiteral("unreadConnections"));
    unreadLabel_->setTextFormat(Qt::PlainText);
    unreadLabel_->hide();
    bar->addPermanentWidget(unreadLabel_);
    capLabel_ = indicator(QStringLiteral("CAP"));
    numLabel_ = indicator(QStringLiteral("NUM"));
    scrlLabel_ = indicator(QStringLiteral("SCRL"));
    return true;
}

void CMainFrame::UpdateDroppedStreams() {
    const std::uint64_t dropped = session_->droppedStreams();
    droppedLabel_->setVisible(dropped > 0);
    if (dropped > 0) {
        droppedLabel_->setText(QStringLiteral("破棄 %1 件 (一覧の上限 %2 件)")
                                   .arg(CountText::of(static_cast<long long>(dropped)),
                                        CountText::of(session_->rowLimit())));
    }
}

void CMainFrame::UpdatePacketCounts() {
    const bool shown = session_->captureRun() > 0;
    packetsLabel_->setVisible(shown);
    lostPacketsLabel_->setVisible(shown);
    if (!shown) {
        return;
    }
    // The capture sends its counts a few times a second; a pane is redrawn only when they move.
    const CPacketCapture::Statistics counts = session_->captureStatistics();
    const QString packets = QStringLiteral("受信 %1 パケット")
                                .arg(CountText::of(static_cast<long long>(counts.received)));
    const QString lost =
        QStringLiteral("取りこぼし %1").arg(CountText::of(static_cast<long long>(counts.dropped)));
    if (packetsLabel_->text() != packets) {
        packetsLabel_->setText(packets);
    }
    if (lostPacketsLabel_->text() != lost) {
        lostPacketsLabel_->setText(lost);
    }
}

QString CMainFrame::MonitoringText() const {
    const AdapterEntry& adapter = session_->adapter();
    char address[INET6_ADDRSTRLEN] = {};
    if (IsIpv6Only(adapter)) {
        inet_ntop(AF_INET6, adapter.address6, address, sizeof address);
    } else {
        inet_ntop(AF_INET, adapter.address, address, sizeof address);
    }
    const QString name = QString::fromUtf8(
        adapter.description,
        static_cast<qsizetype>(strnlen(adapter.description, sizeof adapter.description)));
    return QStringLiteral("監視中: %1 (%2)").arg(name, QString::fromLatin1(address));
}

void CMainFrame::UpdateListStatus() {
    readyLabel_->setText(IsMonitoring() ? MonitoringText() : QStringLiteral("レディ"));
    const int total = session_->rowCount();
    const int shown = view_ != nullptr ? view_->ShownRowCount() : total;
    rowsLabel_->setText(
        shown == total
            ? QStringLiteral("%1 件").arg(CountText::of(total))
            : QStringLiteral("%1 / %2 件").arg(CountText::of(shown), CountText::of(total)));
    if (view_ != nullptr && treeBar_ != nullptr && treeBar_->Tree() != nullptr) {
        treeBar_->Tree()->SetTypeCounts(view_->TypeCounts());
    }
}

bool CMainFrame::CreateTreeBar() {
    const std::string suffixFile = services_.suffixFilePath ? services_.suffixFilePath() : "";
    treeBar_ = new CTreeArea(*session_, suffixFile);
    if (!treeBar_->CreateBar(QStringLiteral("Tree Bar"), this, QSize(150, 300), true, kTreeBarId)) {
        delete treeBar_;
        treeBar_ = nullptr;
        return false;
    }
    treeBar_->setAllowedAreas(Qt::LeftDockWidgetArea);
    addDockWidget(Qt::LeftDockWidgetArea, treeBar_);
    connect(treeBar_, &QDockWidget::visibilityChanged, this, &CMainFrame::UpdateCommandUI);
    connect(treeBar_->Tree(), &CTypeTreeCtrl::typeChosen, this, [this](const QString& typeName) {
        if (view_ != nullptr) {
            view_->SetTypeFilter(typeName);
        }
    });
    return true;
}

void CMainFrame::UpdateCommandUI() {
    for (int id : {ID_MONITOR_START, ID_MONITOR_STOP}) {
        Action(id)->setEnabled(true);
        Action(id)->setChecked(monitorState_ == id);
    }
    Action(ID_VIEW_TREEBAR)->setEnabled(treeBar_ != nullptr);
    Action(ID_VIEW_TREEBAR)->setChecked(treeBar_ != nullptr && !treeBar_->isHidden());
    for (int id : {ID_COPY_URL, ID_EDIT_COPY}) {
        Action(id)->setEnabled(view_ != nullptr && view_->HasCurrentStream());
    }
    Action(ID_SETTINGS)->setEnabled(true);
    for (int id : {ID_WATCHED_PORTS, ID_TLS_PORTS, ID_KEY_LOG_FILE, ID_KEY_LOG_BROWSER}) {
        Action(id)->setEnabled(true);
    }
    Action(ID_SEND_REQUEST_CONTEXT)->setEnabled(true);
    Action(ID_COOKIE_REUSE)->setEnabled(true);
    Action(ID_DOWNLOAD_LIMIT)->setEnabled(true);
    Action(ID_VIEW_TOOLBAR)->setChecked(toolBar_ != nullptr && !toolBar_->isHidden());
    Action(ID_VIEW_STATUS_BAR)->setChecked(!statusBar()->isHidden());
    // Commands without a handler anywhere.
    for (int id :
         {ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_PASTE, ID_FILE_PRINT, ID_NEXT_PANE, ID_PREV_PANE}) {
        Action(id)->setEnabled(false);
    }
}

void CMainFrame::UpdateLockIndicators() {
    const KeyLockState::Locks locks = keyLocks_->Query();
    capLabel_->setText(locks.caps ? QStringLiteral("CAP") : QString());
    numLabel_->setText(locks.num ? QStringLiteral("NUM") : QString());
    scrlLabel_->setText(locks.scroll ? QStringLiteral("SCRL") : QString());
}

void CMainFrame::UpdateCaption() {
    QString title = document_ != nullptr ? document_->GetTitle() : QString();
    // A list with rows not in its file carries a mark, as an edited document does.
    if (!title.isEmpty() && document_->IsModified()) {
        title += QLatin1Char('*');
    }
    const QString caption =
        title.isEmpty() ? QStringLiteral("Quorvex") : title + QStringLiteral(" - Quorvex");
    if (caption != windowTitle()) {
        setWindowTitle(caption);
    }
}

int CMainFrame::EnumerateAdapters() {
    if (services_.adapterSource == nullptr) {
        return -1;
    }
    const int count = services_.adapterSource->Enumerate(adapters_);
    if (count >= 0) {
        adapterCount_ = count;
    }
    return count;
}

void CMainFrame::OnStartMonitoring() {
    WaitCursor wait;
    const int count = EnumerateAdapters();
    wait.Release();
    if (count <= 0 || static_cast<std::size_t>(count) > adapters_.size()) {
        ShowNoAdapter(count);
        UpdateCommandUI();
        return;
    }
    int chosen = 0;
    if (count >= 2) {
        const DialogResult result =
            services_.runAdapterDialog
                ? services_.runAdapterDialog(this, count, adapters_.data(), adapterIndex_, &chosen)
                : DialogResult::kCancel;
        // The dialog refuses OK without a selection; the range check keeps a bad index out
        // whatever dialog runs.
        if (result == DialogResult::kCancel || chosen < 0 || chosen >= count) {
            UpdateCommandUI();
            return;
        }
    }
    adapterIndex_ = chosen;
    const AdapterEntry& adapter = adapters_[adapterIndex_];
    const std::string name = AdapterName(adapter);
    // Asked again while monitoring: the adapter chosen now is the one watched.
    if (session_->isCapturing()) {
        if (name == watchedAdapter_) {
            UpdateCommandUI();
            return;
        }
        session_->stop();
        monitorState_ = ID_MONITOR_STOP;
    }
    StartCapture(adapter);
    UpdateCommandUI();
    UpdateListStatus();
}

bool CMainFrame::StartCapture(const AdapterEntry& adapter) {
    ApplySecureSettings();
    if (shutDown_ || !session_->start(adapter)) {
        return false;
    }
    monitorState_ = ID_MONITOR_START;
    watchedAdapter_ = AdapterName(adapter);
    ShowSecureSummary({});
    return true;
}

void CMainFrame::RestartMonitoring() {
    const AdapterEntry adapter = session_->adapter();
    OnStopMonitoring();
    StartCapture(adapter);
    UpdateCommandUI();
    UpdateListStatus();
}

void CMainFrame::ApplySecureSettings() {
    session_->setTlsPorts(TlsPortsSetting::Load());
    session_->setKeyLogPath(KeyLogPath());
    // Each reading takes its secrets from the key log file anew; none are carried over.
    session_->setKeyLog(nullptr);
}

std::string CMainFrame::KeyLogPath() const {
    return browsers_.empty() ? KeyLogFileSetting::LocalPath(KeyLogFileSetting::Load())
                             : browsers_.front()->keyLogPath();
}

void CMainFrame::PrepareCaptureFileReading() {
    if (session_->isCapturing()) {
        OnStopMonitoring();
    }
    ApplySecureSettings();
}

void CMainFrame::ShowSecureSummary(const SecureTrafficReader::Summary& summary) {
    const QString text = UnreadConnectionsNote::text(summary);
    unreadLabel_->setText(text);
    unreadLabel_->setToolTip(UnreadConnectionsNote::toolTip(summary));
    unreadLabel_->setVisible(!text.isEmpty());
}

std::string CMainFrame::AdapterName(const AdapterEntry& adapter) {
    return std::string(adapter.description,
                       ::strnlen(adapter.description, AdapterEntry::kDescriptionCapacity));
}

// Ctrl+B must never do nothing in silence: either no adapter or no list of them.
void CMainFrame::ShowNoAdapter(int count) {
    if (!services_.showError) {
        return;
    }
    services_.showError(
        this, count == 0
                  ? QStringLiteral("監視できるネットワークアダプタが見つかりませんでした。\n"
                                   "アダプタが接続され、有効になっているか確認してください。")
                  : QStringLiteral("ネットワークアダプタの一覧を取得できませんでした。"));
}

void CMainFrame::OnStopMonitoring() {
    monitorState_ = ID_MONITOR_STOP;
    const bool capturing = session_->isCapturing();
    session_->stop();
    UpdateCommandUI();
    if (!shutDown_) {
        if (capturing) {
            ShowSecureSummary(session_->secureSummary());
        }
        UpdateListStatus();
    }
}

void CMainFrame::OnViewTreeBar() {
    if (treeBar_ != nullptr) {
        treeBar_->setVisible(treeBar_->isHidden());
    }
    UpdateCommandUI();
}

void CMainFrame::OnCopyUrl() {
    if (view_ != nullptr && view_->HasCurrentStream()) {
        view_->OnCopyUrl();
    }
}

void CMainFrame::OnSettings() {
    if (!services_.runSuffixDialog) {
        return;
    }
    const std::string path = services_.suffixFilePath ? services_.suffixFilePath() : "";
    if (services_.runSuffixDialog(this, path) == DialogResult::kOk && treeBar_ != nullptr) {
        treeBar_->LoadSuffixList();
    }
}

void CMainFrame::EditSetting(
    const std::function<std::optional<QString>(QWidget*, const QString&)>& ask,
    const QString& current,
    const std::function<bool(const QString& text, QString& error)>& accept) {
    if (!ask) {
        return;
    }
    // A text refused is shown again as typed, to be mended rather than typed anew.
    QString shown = current;
    while (const std::optional<QString> text = ask(this, shown)) {
        QString error;
        if (accept(*text, error)) {
            return;
        }
        if (services_.showError) {
            services_.showError(this, error);
        }
        shown = *text;
    }
}

void CMainFrame::OnWatchedPorts() {
    EditSetting(services_.askWatchedPorts, WatchedPortsSetting::ToText(session_->watchedPorts()),
                [this](const QString& text, QString& error) {
                    std::optional<WatchedPorts> ports = WatchedPortsSetting::FromText(text, error);
                    if (ports) {
                        WatchedPortsSetting::Save(*ports);
                        // A running capture keeps its filter; the next start uses the new list.
                        session_->setWatchedPorts(*ports);
                    }
                    return ports.has_value();
                });
}

// TLS ports and key log file are kept here and given to the session before each reading.
void CMainFrame::OnTlsPorts() {
    EditSetting(services_.askTlsPorts, TlsPortsSetting::ToText(TlsPortsSetting::Load()),
                [](const QString& text, QString& error) {
                    std::optional<TlsPorts> ports = TlsPortsSetting::FromText(text, error);
                    if (ports) {
                        TlsPortsSetting::Save(*ports);
                    }
                    return ports.has_value();
                });
}

// Taken at once: a larger count starts waiting downloads, a smaller one lets the running
// finish and starts no more until fewer run.
void CMainFrame::OnDownloadLimit() {
    EditSetting(services_.askDownloadLimit, DownloadLimitSetting::ToText(session_->downloadLimit()),
                [this](const QString& text, QString& error) {
                    std::optional<int> limit = DownloadLimitSetting::FromText(text, error);
                    if (limit) {
                        DownloadLimitSetting::Save(*limit);
                        session_->setDownloadLimit(*limit);
                    }
                    return limit.has_value();
                });
}

void CMainFrame::OnKeyLogFile() {
    EditSetting(services_.askKeyLogFile, KeyLogFileSetting::Load(),
                [](const QString& text, QString& error) {
                    std::optional<QString> path = KeyLogFileSetting::FromText(text, error);
                    if (path) {
                        KeyLogFileSetting::Save(*path);
                    }
                    return path.has_value();
                });
}

void CMainFrame::OnStartKeyLogBrowser() {
    if (shutDown_) {
        return;
    }
    WaitCursor wait;
    auto browser = std::make_unique<KeyLogBrowser>(services_.browserEnvironment
                                                       ? services_.browserEnvironment()
                                                       : KeyLogBrowser::processEnvironment());
    // One key log for every browser started here: the session follows a single file.
    const std::string shared = browsers_.empty() ? std::string() : browsers_.front()->keyLogPath();
    const KeyLogBrowser::Outcome outcome = browser->start(shared);
    wait.Release();
    if (!outcome.ok()) {
        if (services_.showError) {
            services_.showError(this, browserFailureText(outcome));
        }
        return;
    }
    browsers_.push_back(std::move(browser));
    if (shared.empty() && session_->isCapturing()) {
        RestartMonitoring();
    }
}

void CMainFrame::OnFileSave() {
    SaveDocument();
}

void CMainFrame::OnFileSaveAs() {
    SaveDocumentAs();
}

bool CMainFrame::SaveDocument() {
    if (document_ == nullptr) {
        return false;
    }
    if (document_->GetPathName().isEmpty()) {
        return SaveDocumentAs();
    }
    QString error;
    if (!document_->OnSaveDocument(document_->GetPathName(), &error)) {
        if (services_.showError) {
            services_.showError(this, error);
        }
        return false;
    }
    return true;
}

bool CMainFrame::SaveDocumentAs() {
    if (document_ == nullptr || !services_.askSaveFileName) {
        return false;
    }
    // A list without a file of its own (new, or read from a capture) is offered as JSON lines.
    const QString proposed =
        document_->GetPathName().isEmpty()
            ? QFileInfo(document_->GetTitle()).completeBaseName() + QStringLiteral(".jsonl")
            : document_->GetPathName();
    const QString path = services_.askSaveFileName(this, proposed);
    if (path.isEmpty()) {
        return false;
    }
    QString error;
    if (!document_->OnSaveDocument(path, &error)) {
        if (services_.showError) {
            services_.showError(this, error);
        }
        return false;
    }
    RecentFileList::add(path);
    return true;
}

bool CMainFrame::SaveModified() {
    if (document_ == nullptr || !document_->IsModified() || !services_.askSaveChanges) {
        return true;
    }
    switch (services_.askSaveChanges(this, document_->GetTitle())) {
        case DocumentPrompts::SaveAnswer::kSave:
            return SaveDocument();
        case DocumentPrompts::SaveAnswer::kDiscard:
            return true;
        case DocumentPrompts::SaveAnswer::kCancel:
            break;
    }
    return false;
}

bool CMainFrame::StopMonitoringFirst() {
    if (!session_->isCapturing()) {
        return true;
    }
    if (services_.askStopMonitoring && !services_.askStopMonitoring(this)) {
        return false;
    }
    OnStopMonitoring();
    return true;
}

void CMainFrame::OnCaptureStatus(const CaptureStatus& status, int run) {
    if (status.state != CaptureStatus::kFailed && status.state != CaptureStatus::kLost) {
        return;
    }
    // A report from a capture that has been stopped (or replaced) since is stale.
    if (!session_->isCapturing() || run != session_->captureRun()) {
        return;
    }
    const QString text = CaptureFailureText::make(status, watchedAdapter_);
    OnStopMonitoring();
    if (services_.showError) {
        services_.showError(this, text);
    }
}

void CMainFrame::OnDownloadEnded(int row, const DownloadOutcome& outcome) {
    if (isActiveWindow() || shutDown_ || !services_.notify) {
        return;
    }
    QString subject;
    if (const DetectedStream* record = session_->record(row)) {
        // The worker has ended: the file name is final.
        const std::string file(record->localFile,
                               ::strnlen(record->localFile, sizeof record->localFile));
        subject = file.empty()
                      ? FailureText::visible(session_->url(row))
                      : FailureText::visible(
                            QFileInfo(QFile::decodeName(file.c_str())).fileName().toStdString());
    }
    services_.notify(QApplication::applicationDisplayName(),
                     DownloadNotice::body(outcome, subject));
}

void CMainFrame::ShutdownWork() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    if (document_ != nullptr) {
        document_->StopLoading();
    }
    OnStopMonitoring();
    if (view_ != nullptr) {
        view_->Shutdown();
    }
    // Workers waiting for a dialog go on, so that the session can join them.
    bridge_->release();
    session_->shutdown();
    // Before an exit that runs no destructors: the private key log holds secrets.
    browsers_.clear();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!shutDown_ && (!SaveModified() || !DownloadGuard::EndDownloadsFirst(
                                              this, *session_, services_.askAbortDownloads))) {
        event->ignore();
        return;
    }
    SaveWindowSettings();
    ShutdownWork();
    event->accept();
}

void CMainFrame::SaveWindowSettings() {
    QSettings settings;
    settings.beginGroup(kWindowGroup);
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    // Toolbar and pane: where they are, whether shown, the pane's width.
    settings.setValue(QStringLiteral("windowState"), saveState());
    settings.setValue(QStringLiteral("treeBar"), treeBar_ != nullptr && !treeBar_->isHidden());
    settings.setValue(QStringLiteral("toolBar"), toolBar_ != nullptr && !toolBar_->isHidden());
    settings.setValue(QStringLiteral("statusBar"), !statusBar()->isHidden());
    settings.endGroup();
    if (treeBar_ != nullptr) {
        treeBar_->KeepDockedSize();
        treeBar_->SaveSizes(kWindowGroup);
    }
}

void CMainFrame::LoadWindowSettings() {
    QSettings settings;
    settings.beginGroup(kWindowGroup);
    const QByteArray geometry = settings.value(QStringLiteral("geometry")).toByteArray();
    if (geometry.isEmpty() || !restoreGeometry(geometry)) {
        const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
        setGeometry(
            WindowPlacement::firstStart(shown != nullptr ? shown->availableGeometry() : QRect()));
    }
    if (treeBar_ != nullptr) {
        // The pane's own sizes first: showing it applies them.
        treeBar_->LoadSizes(kWindowGroup);
    }
    restoreState(settings.value(QStringLiteral("windowState")).toByteArray());
    if (treeBar_ != nullptr) {
        treeBar_->setVisible(settings.value(QStringLiteral("treeBar"), false).toBool());
    }
    if (toolBar_ != nullptr) {
        toolBar_->setVisible(settings.value(QStringLiteral("toolBar"), true).toBool());
    }
    statusBar()->setVisible(settings.value(QStringLiteral("statusBar"), true).toBool());
    settings.endGroup();
    UpdateCommandUI();
}
