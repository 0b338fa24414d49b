#include "gui/list/CListArea.h"

#include "core/detect/DetectedStream.h"
#include "core/download/StreamCommand.h"
#include "core/download/record/RecordSaveChoice.h"
#include "core/session/MonitorSession.h"
#include "gui/app/UiBridge.h"
#include "gui/list/CListViewEx.h"
#include "gui/list/CStreamListModel.h"
#include "gui/list/SaveDialogSetup.h"
#include "gui/list/StreamCommandRules.h"
#include "gui/list/UrlSchemePolicy.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QUrl>
#include <QVBoxLayout>

#include <cstring>

namespace {

// The save dialog waits this long at most to learn whether a playlist is live.
constexpr long kRecordProbeSeconds = 3;
QString fromBytes(const char* text) {
    return QString::fromUtf8(text);
}

struct MenuItem {
    int id;
    const char* text;
};
// Menu 138, in its order; 0 marks a separator.
constexpr MenuItem kMenuItems[] = {
    {CListArea::kCommandSave, "名前を付けて保存（ダウンロード）"},
    {CListArea::kCommandAbort, "中止"},
    {0, nullptr},
    {CListArea::kCommandOpenInBrowser, "ブラウザで直接開く"},
    {CListArea::kCommandPlay, "ダウンロードしたファイルを再生"},
    {0, nullptr},
    {CListArea::kCommandCopyUrl, "URLをコピー               Ctrl+C"},
    {CListArea::kCommandCopyAsCurl, "curl コマンドとしてコピー"},
    {CListArea::kCommandCopyAsFfmpeg, "ffmpeg コマンドとしてコピー"},
    {CListArea::kCommandCopyAsYtDlp, "yt-dlp コマンドとしてコピー"},
    {0, nullptr},
    {CListArea::kCommandCancel, "キャンセル"},
};
}  // namespace

CListArea::CListArea(MonitorSession& session, UiBridge& bridge, QWidget* parent)
    : QWidget(parent), session_(session), bridge_(bridge) {
    listCtrl_ = new CListViewEx(this);
    listCtrl_->setObjectName(QStringLiteral("listCtrl%1").arg(kListControlId));
    model_ = new CStreamListModel(this);
    listCtrl_->setModel(model_);
    listCtrl_->viewport()->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(listCtrl_);

    connect(listCtrl_, &QAbstractItemView::clicked, this, &CListArea::onClicked);
    connect(listCtrl_, &QAbstractItemView::doubleClicked, this, &CListArea::onDoubleClicked);

    bridge_.setDialogParent(this);
    connect(&bridge_, &UiBridge::rowsChanged, this, &CListArea::flushPending);
    connect(&bridge_, &UiBridge::downloadEnded, this, &CListArea::onDownloadEnded);

    createActions();
    OnInitialUpdate();
}

CListArea::~CListArea() {
    shutdown();
}

void CListArea::createActions() {
    menu_ = new QMenu(this);
    for (const MenuItem& item : kMenuItems) {
        if (item.id == 0) {
            menu_->addSeparator();
            continue;
        }
        QAction* action = menu_->addAction(QString::fromUtf8(item.text));
        action->setData(item.id);
        actions_[item.id] = action;
        if (item.id != kCommandCancel) {
            const int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        }
    }
}

bool CListArea::eventFilter(QObject* watched, QEvent* event) {
    if (watched == listCtrl_->viewport() && event->type() == QEvent::ContextMenu) {
        auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        // Only a right click picks the row; the keyboard's menu key does not.
        if (menuEvent->reason() == QContextMenuEvent::Mouse) {
            onContextMenuRequested(menuEvent->pos());
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- rows --------------------------------------------------------------------------------

void CListArea::flushPending() {
    if (shutDown_) {
        return;
    }
    const MonitorSession::Changes changes = session_.takeChanges();
    const int shown = model_->rowCount();
    const int last = std::min(changes.rowCount, shown + kRowsPerFlush);
    std::vector<StreamRowTexts> rows;
    rows.reserve(static_cast<std::size_t>(std::max(0, last - shown)));
    StreamRowTexts texts;
    for (int row = shown; row < last && session_.rowTexts(row, texts); ++row) {
        rows.push_back(texts);
    }
    model_->appendRows(rows);
    itemCount_ = model_->rowCount();
    for (int row : changes.refreshed) {
        if (row < itemCount_ && session_.rowTexts(row, texts)) {
            model_->refreshRow(row, texts);
        }
    }
    if (itemCount_ < changes.rowCount) {
        bridge_.scheduleRowsChanged(0);  // the rest after the events that queued up meanwhile
    }
    if (!rows.empty() || !changes.refreshed.empty()) {
        emit rowsFlushed();
    }
}

void CListArea::OnInitialUpdate() {
    session_.reset();
    model_->clear();
    resetColumns();
    itemCount_ = 0;
    currentStream_ = nullptr;
    currentRow_ = -1;
    listCtrl_->EnableFullRowSelect(true);
    flushPending();
}

void CListArea::resetColumns() {
    QHeaderView* header = listCtrl_->header();
    for (int column = 0; column < CStreamListModel::kColumnCount; ++column) {
        header->resizeSection(column, CStreamListModel::defaultWidth(column));
    }
}

int CListArea::selectedCount() const {
    return listCtrl_->selectionModel() ? listCtrl_->selectionModel()->selectedRows().size() : 0;
}

void CListArea::shutdown() {
    shutDown_ = true;
}

// The worker has told its end; its thread is about to return and can be joined.
void CListArea::onDownloadEnded(int /*row*/, const DownloadOutcome& /*outcome*/) {
    session_.reapEndedDownloads();
}

// ---- clicks ------------------------------------------------------------------------------

void CListArea::takeCurrentFrom(const QModelIndex& index) {
    if (!index.isValid()) {
        return;
    }
    if (const DetectedStream* record = session_.record(index.row())) {
        currentStream_ = record;
        currentRow_ = index.row();
    }
}

void CListArea::onClicked(const QModelIndex& index) {
    takeCurrentFrom(index);
}

void CListArea::onDoubleClicked(const QModelIndex& index) {
    takeCurrentFrom(index);
    if (index.isValid() && currentStream_ != nullptr) {
        runDoubleClickCommand();
    }
}

void CListArea::runDoubleClickCommand() {
    const int command = StreamCommandRules::doubleClickCommand(LoadDownloadState(*currentStream_),
                                                               currentStream_->scheme);
    if (command != StreamCommandRules::kNone) {
        OnCommand(command);
    }
}

void CListArea::onContextMenuRequested(const QPoint& pos) {
    const QModelIndex index = listCtrl_->indexAt(pos);
    if (!index.isValid() || index.row() >= session_.rowCount()) {
        return;
    }
    takeCurrentFrom(index);
    const QPoint global = listCtrl_->viewport()->mapToGlobal(pos);
    activateWindow();
    contextMenu()->exec(global);
}

QMenu* CListArea::contextMenu() {
    updateMenuStates();
    return menu_;
}

void CListArea::updateMenuStates() {
    if (currentStream_ == nullptr) {
        return;
    }
    const auto states =
        StreamCommandRules::menuStates(LoadDownloadState(*currentStream_), currentStream_->scheme);
    actions_[kCommandSave]->setEnabled(states.save);
    actions_[kCommandAbort]->setEnabled(states.abort);
    actions_[kCommandPlay]->setEnabled(states.play);
}

// ---- commands ----------------------------------------------------------------------------

bool CListArea::OnCommand(int id) {
    switch (id) {
        case kCommandSave:
            OnSaveAs();
            return true;
        case kCommandAbort:
            OnAbort();
            return true;
        case kCommandOpenInBrowser:
            OnOpenInBrowser();
            return true;
        case kCommandPlay:
            OnPlay();
            return true;
        case kCommandCopyUrl:
            OnCopyUrl();
            return true;
        case kCommandCopyAsCurl:
        case kCommandCopyAsFfmpeg:
        case kCommandCopyAsYtDlp:
            OnCopyAsCommand(id);
            return true;
        default:
            return false;
    }
}

void CListArea::OnCopyUrl() {
    if (currentStream_ == nullptr) {
        return;
    }
    QGuiApplication::clipboard()->setText(QString::fromStdString(session_.url(currentRow_)));
}

void CListArea::OnCopyAsCommand(int id) {
    DetectedStream record;
    if (currentStream_ == nullptr || !session_.copyRecord(currentRow_, record)) {
        return;
    }
    // Cookies kept while reuse was on are not handed out once it is off.
    if (!session_.cookieReuse()) {
        record.cookie[0] = '\0';
    }
    const StreamCommand::Tool tool = id == kCommandCopyAsCurl     ? StreamCommand::Tool::Curl
                                     : id == kCommandCopyAsFfmpeg ? StreamCommand::Tool::Ffmpeg
                                                                  : StreamCommand::Tool::YtDlp;
    QGuiApplication::clipboard()->setText(
        QString::fromStdString(StreamCommand::shellLine(record, tool)));
}

void CListArea::OnOpenInBrowser() {
    if (currentStream_ == nullptr) {
        return;
    }
    const std::string url = session_.url(currentRow_);
    if (!UrlSchemePolicy::mayOpenInBrowser(url)) {
        QMessageBox::warning(
            this, QApplication::applicationDisplayName(),
            QStringLiteral("このURLはブラウザで開けません。\n%1").arg(QString::fromStdString(url)));
        return;
    }
    QDesktopServices::openUrl(
        QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::TolerantMode));
}

void CListArea::OnPlay() {
    if (currentStream_ == nullptr || currentStream_->localFile[0] == '\0') {
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(fromBytes(currentStream_->localFile)));
}

void CListArea::OnAbort() {
    if (currentStream_ == nullptr) {
        return;
    }
    session_.abortDownload(currentRow_);
}

void CListArea::OnSaveAs() {
    if (currentStream_ == nullptr) {
        return;
    }
    const DetectedStream* record = currentStream_;
    std::string suffix = record->suffix;
    std::string typeName = record->typeName;
    std::string fileName = SaveDialogSetup::proposedFileName(record->path, suffix);
    // A playlist or RTSP session is recorded into a container of its own.
    if (auto recording = RecordSaveChoice::For(*record, kRecordProbeSeconds)) {
        suffix = recording->suffix;
        typeName = recording->typeName;
        fileName = recording->fileName;
    }
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters({QString::fromStdString(SaveDialogSetup::typeFilter(typeName, suffix)),
                           QString::fromUtf8(SaveDialogSetup::kAllFilesFilter.data())});
    dialog.setDefaultSuffix(QString::fromStdString(SaveDialogSetup::defaultExtension(suffix)));
    if (!lastFolder_.isEmpty()) {
        dialog.setDirectory(lastFolder_);
    }
    dialog.selectFile(QString::fromStdString(fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString chosen = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    lastFolder_ = QFileInfo(chosen).absolutePath();
    session_.startDownload(currentRow_, QFile::encodeName(chosen).toStdString());
}
