#include "gui/list/CListArea.h"

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadStarter.h"
#include "core/download/DownloadWorker.h"
#include "gui/list/CDownloadHost.h"
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
// The download state as it is at this moment; download workers write it on their threads.
int loadState(DetectedStream* record) {
    return std::atomic_ref<std::int32_t>(record->state).load(std::memory_order_acquire);
}

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
    {0, nullptr},
    {CListArea::kCommandCancel, "キャンセル"},
};
}  // namespace

CListArea::CListArea(QWidget* parent) : QWidget(parent) {
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

    flushTimer_.setSingleShot(true);
    connect(&flushTimer_, &QTimer::timeout, this, &CListArea::flushPending);
    changes_ = std::make_shared<StoreChangeQueue>([this] { wakeForChanges(); });
    store_.addObserver(changes_);

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

int CListArea::AddOrUpdateStream(const DetectedStream* record, int update) {
    if (record == nullptr || shutDown_.load()) {
        return 0;
    }
    if (update != 0) {
        std::lock_guard lock(orphanMutex_);
        if (orphans_.contains(record)) {
            return 0;  // its row went with the last reset
        }
    }
    store_.AddOrUpdateStream(record, update);
    return 0;
}

// On the thread that changed the store: only a queued call, the flush runs on ours.
void CListArea::wakeForChanges() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!flushTimer_.isActive()) {
                flushTimer_.start(kFlushDelayMs);
            }
        },
        Qt::QueuedConnection);
}

void CListArea::flushPending() {
    const StoreChangeQueue::Changes changes = changes_->take();
    const int shown = model_->rowCount();
    const int stored = store_.rowCount();
    const int last = std::min(stored, shown + kRowsPerFlush);
    std::vector<StreamRowTexts> rows;
    rows.reserve(static_cast<std::size_t>(std::max(0, last - shown)));
    StreamRowTexts texts;
    for (int row = shown; row < last && store_.rowTexts(row, texts); ++row) {
        rows.push_back(texts);
    }
    model_->appendRows(rows);
    itemCount_ = model_->rowCount();
    for (int row : changes.refreshed) {
        if (row < itemCount_ && store_.rowTexts(row, texts)) {
            model_->refreshRow(row, texts);
        }
    }
    if (itemCount_ < stored) {
        flushTimer_.start(0);  // the rest after the events that queued up meanwhile
    }
    if (!rows.empty() || !changes.refreshed.empty()) {
        emit rowsFlushed();
    }
}

void CListArea::OnInitialUpdate() {
    {
        // Running downloads keep their records; what they report no longer has a row.
        std::lock_guard lock(orphanMutex_);
        for (const Download& download : downloads_) {
            orphans_.insert(download.record.get());
        }
    }
    store_.reset();
    changes_->clear();
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
    shutDown_.store(true);
    flushTimer_.stop();
    for (Download& download : downloads_) {
        download.worker->Cancel();
        download.host->release();
    }
    // Each worker object waits for its thread; none of them waits for us any more.
    downloads_.clear();
}

void CListArea::onDownloadEnded(CDownloadHost* host) {
    for (auto it = downloads_.begin(); it != downloads_.end(); ++it) {
        if (it->host.get() != host) {
            continue;
        }
        if (it->record->worker == it->worker.get()) {
            it->record->worker = nullptr;
        }
        const DetectedStream* record = it->record.get();
        downloads_.erase(it);  // joins the worker thread, which has just ended
        std::lock_guard lock(orphanMutex_);
        orphans_.erase(record);
        return;
    }
}

// ---- clicks ------------------------------------------------------------------------------

void CListArea::takeCurrentFrom(const QModelIndex& index) {
    if (!index.isValid()) {
        return;
    }
    if (DetectedStream* record = store_.record(index.row())) {
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
    const int command =
        StreamCommandRules::doubleClickCommand(loadState(currentStream_), currentStream_->scheme);
    if (command != StreamCommandRules::kNone) {
        OnCommand(command);
    }
}

void CListArea::onContextMenuRequested(const QPoint& pos) {
    const QModelIndex index = listCtrl_->indexAt(pos);
    if (!index.isValid() || index.row() >= store_.rowCount()) {
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
        StreamCommandRules::menuStates(loadState(currentStream_), currentStream_->scheme);
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
        default:
            return false;
    }
}

void CListArea::OnCopyUrl() {
    if (currentStream_ == nullptr) {
        return;
    }
    QGuiApplication::clipboard()->setText(
        QString::fromStdString(DownloadStarter::UrlOf(*currentStream_)));
}

void CListArea::OnOpenInBrowser() {
    if (currentStream_ == nullptr) {
        return;
    }
    const std::string url = DownloadStarter::UrlOf(*currentStream_);
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
    DownloadStarter::Abort(*currentStream_);
}

void CListArea::OnSaveAs() {
    if (currentStream_ == nullptr) {
        return;
    }
    DetectedStream* record = currentStream_;
    const std::string suffix = record->suffix;
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(
        {QString::fromStdString(SaveDialogSetup::typeFilter(record->typeName, suffix)),
         QString::fromUtf8(SaveDialogSetup::kAllFilesFilter.data())});
    dialog.setDefaultSuffix(QString::fromStdString(SaveDialogSetup::defaultExtension(suffix)));
    if (!lastFolder_.isEmpty()) {
        dialog.setDirectory(lastFolder_);
    }
    dialog.selectFile(
        QString::fromStdString(SaveDialogSetup::proposedFileName(record->path, suffix)));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString chosen = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    lastFolder_ = QFileInfo(chosen).absolutePath();
    startDownload(currentRow_, QFile::encodeName(chosen));
}

bool CListArea::startDownload(int row, const QByteArray& targetPath) {
    std::shared_ptr<DetectedStream> record = store_.sharedRecord(row);
    if (!record) {
        return false;
    }
    auto host = std::make_unique<CDownloadHost>(this);
    CDownloadHost* hostPointer = host.get();
    // Connected before the start: a quick download may end before Start returns.
    connect(
        hostPointer, &CDownloadHost::ended, this,
        [this, hostPointer] { onDownloadEnded(hostPointer); }, Qt::QueuedConnection);
    DownloadStarter starter(*host);
    std::unique_ptr<DownloadWorker> worker = starter.Start(*record, this, targetPath.toStdString());
    if (!worker) {
        return false;
    }
    downloads_.push_back({std::move(record), std::move(host), std::move(worker)});
    return true;
}
