#include "gui/list/CListArea.h"

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadStarter.h"
#include "core/download/StreamCommand.h"
#include "core/download/record/RecordSaveChoice.h"
#include "core/session/MonitorSession.h"
#include "gui/app/UiBridge.h"
#include "gui/list/CListViewEx.h"
#include "gui/list/CStreamListModel.h"
#include "gui/list/SaveDialogSetup.h"
#include "gui/list/StreamCommandRules.h"
#include "gui/list/TextFitter.h"
#include "gui/list/UrlSchemePolicy.h"
#include "gui/ui/RunAside.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

static_assert(CStreamListModel::kPercentRole == CListViewEx::kBarRole);

namespace {

// The save dialog waits this long at most to learn whether a playlist is live.
constexpr long kRecordProbeSeconds = 3;
QString fromBytes(const char* text) {
    return QString::fromUtf8(text);
}

// The desktop's download folder, else home.
QString downloadFolder() {
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return !downloads.isEmpty() && QFileInfo(downloads).isDir() ? downloads : QDir::homePath();
}

struct MenuItem {
    int id;
    const char* text;
};
constexpr const char* kAbortText = "中止";
// Stopping a live recording keeps what it recorded: that is no abort.
constexpr const char* kEndRecordingText = "録画を終了";
// Menu 138, in its order; 0 marks a separator.
constexpr MenuItem kMenuItems[] = {
    {CListArea::kCommandSave, "名前を付けて保存（ダウンロード）"},
    {CListArea::kCommandDownloadToFolder, "ダウンロード フォルダに保存"},
    {CListArea::kCommandAbort, kAbortText},
    {CListArea::kCommandPause, "一時停止"},
    {CListArea::kCommandResume, "再開"},
    {0, nullptr},
    {CListArea::kCommandOpenInBrowser, "ブラウザで直接開く"},
    {CListArea::kCommandPlay, "ダウンロードしたファイルを再生"},
    {CListArea::kCommandOpenFolder, "保存先フォルダを開く"},
    {0, nullptr},
    {CListArea::kCommandCopyUrl, "URLをコピー               Ctrl+C"},
    {CListArea::kCommandCopyAsCurl, "curl コマンドとしてコピー"},
    {CListArea::kCommandCopyAsFfmpeg, "ffmpeg コマンドとしてコピー"},
    {CListArea::kCommandCopyAsYtDlp, "yt-dlp コマンドとしてコピー"},
    {0, nullptr},
    {CListArea::kCommandDelete, "削除"},
    {0, nullptr},
    {CListArea::kCommandCancel, "キャンセル"},
};
}  // namespace

CListArea::CListArea(MonitorSession& session, UiBridge& bridge, QWidget* parent)
    : QWidget(parent), session_(session), bridge_(bridge) {
    listCtrl_ = new CListViewEx(this);
    listCtrl_->setObjectName(QStringLiteral("listCtrl%1").arg(kListControlId));
    model_ = new CStreamListModel(session_, this);
    listCtrl_->setModel(model_);
    listCtrl_->viewport()->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(listCtrl_);

    connect(listCtrl_, &QAbstractItemView::doubleClicked, this, &CListArea::OnDoubleClicked);
    connect(listCtrl_, &CListViewEx::enterPressed, this, &CListArea::OnEnter);
    connect(listCtrl_, &CListViewEx::menuKeyPressed, this, &CListArea::OnMenuKey);
    connect(listCtrl_, &CListViewEx::copyPressed, this, &CListArea::OnCopyUrl);
    connect(listCtrl_, &CListViewEx::deletePressed, this, &CListArea::OnDelete);
    connect(model_, &CStreamListModel::workPending, this,
            [this] { bridge_.scheduleRowsChanged(0); });
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this, &CListArea::KeepSelection);
    connect(model_, &QAbstractItemModel::modelReset, this, &CListArea::RestoreSelection);

    bridge_.setDialogParent(this);
    connect(&bridge_, &UiBridge::rowsChanged, this, &CListArea::FlushPending);
    connect(&bridge_, &UiBridge::downloadEnded, this, &CListArea::OnDownloadEnded);
    // A paused download's place goes to the next one waiting.
    connect(&bridge_, &UiBridge::downloadPaused, this, [this] { session_.reapEndedDownloads(); });

    CreateActions();
    ResetColumns();
    listCtrl_->SetStretchColumn(CStreamListModel::kUrl);
    RestoreHeader();
    OnInitialUpdate();
}

CListArea::~CListArea() {
    Shutdown();
}

void CListArea::CreateActions() {
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
        // A right click picks its row; the keyboard's menu is for the highlighted one.
        if (menuEvent->reason() == QContextMenuEvent::Mouse) {
            OnContextMenuRequested(menuEvent->pos());
        } else {
            OnMenuKey();
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---- rows --------------------------------------------------------------------------------

void CListArea::FlushPending() {
    if (shutDown_) {
        return;
    }
    const MonitorSession::Changes changes = session_.takeChanges();
    const int shownBefore = model_->rowCount();
    const bool more = model_->advance(changes.rowCount, kFlushBudgetMs);
    itemCount_ = model_->rowCount();
    for (int row : changes.refreshed) {
        model_->refreshRow(row);
    }
    if (more) {
        bridge_.scheduleRowsChanged(0);  // the rest after the events that queued up meanwhile
    }
    if (itemCount_ != shownBefore || !changes.refreshed.empty()) {
        emit rowsFlushed();
    }
}

void CListArea::OnInitialUpdate() {
    session_.reset();
    model_->clear();
    itemCount_ = 0;
    listCtrl_->EnableFullRowSelect(true);
    FlushPending();
}

void CListArea::ResetColumns() {
    QHeaderView* header = listCtrl_->header();
    const QFontMetrics metrics(listCtrl_->font());
    for (int column = 0; column < CStreamListModel::kColumnCount; ++column) {
        const int usual = metrics.horizontalAdvance(CStreamListModel::usualWidestText(column)) +
                          TextFitter::kOtherColumnMargin;
        header->resizeSection(column, std::max(CStreamListModel::defaultWidth(column), usual));
    }
}

namespace {
const QString kHeaderKey = QStringLiteral("List/header");
}

// Widths, and the sort column and order, as the user left them in the last run.
void CListArea::RestoreHeader() {
    const QByteArray state = QSettings().value(kHeaderKey).toByteArray();
    if (!state.isEmpty() && listCtrl_->header()->restoreState(state)) {
        listCtrl_->SetStretchColumn(CStreamListModel::kUrl);
    }
}

void CListArea::SaveHeader() const {
    QSettings().setValue(kHeaderKey, listCtrl_->header()->saveState());
}

// A new sort or filter resets the model: the rows the user had stay selected and highlighted
// wherever they are now.
void CListArea::KeepSelection() {
    keptSelection_ = SelectedRows();
    keptCurrent_ = CurrentRow();
}

void CListArea::RestoreSelection() {
    std::vector<int> rows = model_->viewRows(keptSelection_);
    const int current = model_->viewRow(keptCurrent_);
    keptSelection_.clear();
    keptCurrent_ = -1;
    std::sort(rows.begin(), rows.end());
    QItemSelection selection;
    const int columns = model_->columnCount() - 1;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t end = i + 1;
        while (end < rows.size() && rows[end] == rows[end - 1] + 1) {
            ++end;
        }
        if (rows[i] >= 0) {
            selection.select(model_->index(rows[i], 0), model_->index(rows[end - 1], columns));
        }
        i = end;
    }
    QItemSelectionModel* model = listCtrl_->selectionModel();
    if (!selection.isEmpty()) {
        model->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    if (current >= 0) {
        model->setCurrentIndex(model_->index(current, 0), QItemSelectionModel::NoUpdate);
        listCtrl_->scrollTo(model_->index(current, 0));
    }
}

int CListArea::SelectedCount() const {
    return listCtrl_->selectionModel()
               ? static_cast<int>(listCtrl_->selectionModel()->selectedRows().size())
               : 0;
}

std::vector<int> CListArea::SelectedRows() const {
    std::vector<int> viewRows;
    if (listCtrl_->selectionModel() != nullptr) {
        for (const QModelIndex& index : listCtrl_->selectionModel()->selectedRows()) {
            viewRows.push_back(index.row());
        }
    }
    std::sort(viewRows.begin(), viewRows.end());
    std::vector<int> rows;
    rows.reserve(viewRows.size());
    for (int viewRow : viewRows) {
        rows.push_back(model_->storeRow(viewRow));
    }
    return rows;
}

int CListArea::CurrentRow() const {
    const QModelIndex current = listCtrl_->currentIndex();
    return current.isValid() ? model_->storeRow(current.row()) : -1;
}

const DetectedStream* CListArea::currentStream() {
    const int row = CurrentRow();
    return row < 0 ? nullptr : session_.record(row);
}

void CListArea::SetFilterText(const QString& text) {
    model_->setFilterText(text);
}

void CListArea::SetTypeFilter(const QString& typeName) {
    model_->setTypeFilter(typeName);
}

int CListArea::ShownRowCount() const {
    return model_->rowCount();
}

std::map<QString, int> CListArea::TypeCounts() const {
    return model_->typeCounts();
}

void CListArea::Shutdown() {
    if (!shutDown_) {
        SaveHeader();
    }
    shutDown_ = true;
}

// The worker has told its end; its thread is about to return and can be joined.
void CListArea::OnDownloadEnded(int /*row*/, const DownloadOutcome& /*outcome*/) {
    session_.reapEndedDownloads();
}

// ---- clicks ------------------------------------------------------------------------------

void CListArea::OnDoubleClicked(const QModelIndex& index) {
    if (index.isValid()) {
        RunDoubleClickCommand();
    }
}

void CListArea::OnEnter() {
    if (HasCurrentStream()) {
        RunDoubleClickCommand();
    }
}

bool CListArea::CurrentFileExists() {
    const DetectedStream* record = currentStream();
    return record != nullptr && record->localFile[0] != '\0' &&
           QFileInfo::exists(fromBytes(record->localFile));
}

void CListArea::RunDoubleClickCommand() {
    const DetectedStream* record = currentStream();
    if (record == nullptr) {
        return;
    }
    const int command = StreamCommandRules::doubleClickCommand(LoadDownloadState(*record),
                                                               record->scheme, CurrentFileExists());
    if (command != StreamCommandRules::kNone) {
        OnCommand(command);
    }
}

void CListArea::OnContextMenuRequested(const QPoint& pos) {
    const QModelIndex index = listCtrl_->indexAt(pos);
    if (!index.isValid()) {
        return;
    }
    // A right click on a row outside the selection makes it the selection.
    QItemSelectionModel* selection = listCtrl_->selectionModel();
    if (!selection->isRowSelected(index.row(), QModelIndex())) {
        selection->setCurrentIndex(index,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else {
        selection->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }
    ShowContextMenuAt(pos);
}

// The menu key and Shift+F10: the menu for the highlighted row, shown at that row.
void CListArea::OnMenuKey() {
    const QModelIndex current = listCtrl_->currentIndex();
    if (!current.isValid()) {
        return;
    }
    listCtrl_->scrollTo(current);
    const QRect rect = listCtrl_->visualRect(current.siblingAtColumn(0));
    ShowContextMenuAt(rect.bottomLeft());
}

void CListArea::ShowContextMenuAt(const QPoint& viewportPos) {
    const QPoint global = listCtrl_->viewport()->mapToGlobal(viewportPos);
    activateWindow();
    ContextMenu()->exec(global);
}

QMenu* CListArea::ContextMenu() {
    UpdateMenuStates();
    return menu_;
}

void CListArea::UpdateMenuStates() {
    const DetectedStream* record = currentStream();
    if (record == nullptr) {
        return;
    }
    const auto states = StreamCommandRules::menuStates(LoadDownloadState(*record), record->scheme,
                                                       CurrentFileExists());
    actions_[kCommandSave]->setEnabled(states.save);
    actions_[kCommandDownloadToFolder]->setEnabled(states.save);
    actions_[kCommandAbort]->setEnabled(states.abort);
    actions_[kCommandAbort]->setText(
        QString::fromUtf8(LoadLiveRecording(*record) ? kEndRecordingText : kAbortText));
    const int state = LoadDownloadState(*record);
    actions_[kCommandPause]->setEnabled(
        StreamCommandRules::pauses(state, session_.canPauseDownload(CurrentRow())));
    actions_[kCommandResume]->setEnabled(StreamCommandRules::resumes(state));
    actions_[kCommandPlay]->setEnabled(states.play);
    actions_[kCommandOpenFolder]->setEnabled(
        StreamCommandRules::opensFolder(LoadDownloadState(*record), CurrentFileExists()));
}

// ---- commands ----------------------------------------------------------------------------

bool CListArea::OnCommand(int id) {
    switch (id) {
        case kCommandSave:
            OnSaveAs();
            return true;
        case kCommandDownloadToFolder:
            OnDownloadToFolder();
            return true;
        case kCommandAbort:
            OnAbort();
            return true;
        case kCommandPause:
            OnPause();
            return true;
        case kCommandResume:
            OnResume();
            return true;
        case kCommandOpenInBrowser:
            OnOpenInBrowser();
            return true;
        case kCommandPlay:
            OnPlay();
            return true;
        case kCommandOpenFolder:
            OnOpenFolder();
            return true;
        case kCommandCopyUrl:
            OnCopyUrl();
            return true;
        case kCommandCopyAsCurl:
        case kCommandCopyAsFfmpeg:
        case kCommandCopyAsYtDlp:
            OnCopyAsCommand(id);
            return true;
        case kCommandDelete:
            OnDelete();
            return true;
        default:
            return false;
    }
}

std::vector<int> CListArea::RowsToCopy() const {
    std::vector<int> rows = SelectedRows();
    if (rows.empty() && HasCurrentStream()) {
        rows.push_back(CurrentRow());
    }
    return rows;
}

void CListArea::OnCopyUrl() {
    const std::vector<int> rows = RowsToCopy();
    if (rows.empty()) {
        return;
    }
    QStringList urls;
    urls.reserve(static_cast<qsizetype>(rows.size()));
    for (int row : rows) {
        urls << QString::fromStdString(session_.url(row));
    }
    QGuiApplication::clipboard()->setText(urls.join(QLatin1Char('\n')));
}

void CListArea::OnDelete() {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) {
        return;
    }
    std::vector<QString> types;
    types.reserve(rows.size());
    StreamRowView texts;
    int downloading = 0;
    for (int row : rows) {
        types.push_back(session_.rowView(row, texts) ? QString::fromUtf8(texts.typeName)
                                                     : QString());
        const DetectedStream* record = session_.record(row);
        if (record != nullptr && HoldsDownload(LoadDownloadState(*record))) {
            ++downloading;
        }
    }
    const std::vector<int> moved = session_.removeRows(rows);
    if (!moved.empty()) {
        listCtrl_->selectionModel()->clear();  // its rows have gone or moved
        std::vector<QString> goneTypes;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (moved[static_cast<std::size_t>(rows[i])] < 0) {
                goneTypes.push_back(types[i]);
            }
        }
        model_->storeRowsMoved(moved, goneTypes);
        itemCount_ = model_->rowCount();
        FlushPending();
        emit rowsRemoved();
    }
    if (downloading > 0) {
        TellDownloadingRowsStay(downloading, static_cast<int>(rows.size()));
    }
}

// A row being downloaded keeps its worker's record: it stays until the download ends.
void CListArea::TellDownloadingRowsStay(int refused, int selected) {
    const QString text =
        refused == selected
            ? QStringLiteral("ダウンロード中の行は削除できません。")
            : QStringLiteral("ダウンロード中の %1 行は削除しませんでした。").arg(refused);
    QMessageBox::information(
        this, QApplication::applicationDisplayName(),
        text + QStringLiteral("\n先にダウンロードを中止してから削除してください。"));
}

void CListArea::OnCopyAsCommand(int id) {
    const StreamCommand::Tool tool = id == kCommandCopyAsCurl     ? StreamCommand::Tool::Curl
                                     : id == kCommandCopyAsFfmpeg ? StreamCommand::Tool::Ffmpeg
                                                                  : StreamCommand::Tool::YtDlp;
    QStringList lines;
    for (int row : RowsToCopy()) {
        DetectedStream record;
        if (!session_.copyRecord(row, record)) {
            continue;
        }
        // Cookies kept while reuse was on are not handed out once it is off.
        if (!session_.cookieReuse()) {
            record.cookie[0] = '\0';
        }
        lines << QString::fromStdString(StreamCommand::shellLine(record, tool));
    }
    if (!lines.isEmpty()) {
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
    }
}

void CListArea::OnOpenInBrowser() {
    if (!HasCurrentStream()) {
        return;
    }
    const std::string url = session_.url(CurrentRow());
    if (!UrlSchemePolicy::mayOpenInBrowser(url)) {
        QMessageBox::warning(
            this, QApplication::applicationDisplayName(),
            QStringLiteral("このURLはブラウザで開けません。\n%1").arg(QString::fromStdString(url)));
        return;
    }
    if (!opener_.openWebUrl(
            QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::TolerantMode))) {
        ShowCannotOpen(FailureText::make("URL を開くブラウザが見つかりませんでした。", url, {}));
    }
}

void CListArea::ShowCannotOpen(const FailureText::Box& content) {
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), content.text,
                    QMessageBox::Ok, this);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.setDetailedText(content.details);
    box.exec();
}

void CListArea::OnPlay() {
    if (!CurrentFileExists()) {
        return;
    }
    const DetectedStream* record = currentStream();
    const std::string file(record->localFile,
                           ::strnlen(record->localFile, sizeof record->localFile));
    if (!opener_.openFile(fromBytes(file.c_str()))) {
        ShowCannotOpen(FailureText::make("このファイルを再生するプログラムが見つかりませんでした。",
                                         QStringLiteral("ファイル: "), file, {}));
    }
}

void CListArea::OnOpenFolder() {
    const DetectedStream* record = currentStream();
    if (record == nullptr ||
        !StreamCommandRules::opensFolder(LoadDownloadState(*record), CurrentFileExists())) {
        return;
    }
    const std::string file(record->localFile,
                           ::strnlen(record->localFile, sizeof record->localFile));
    if (!opener_.openFolderOf(fromBytes(file.c_str()))) {
        ShowCannotOpen(FailureText::make("保存先フォルダを開くプログラムが見つかりませんでした。",
                                         QStringLiteral("ファイル: "), file, {}));
    }
}

void CListArea::OnAbort() {
    if (HasCurrentStream()) {
        session_.cancelDownload(CurrentRow());
    }
}

void CListArea::OnPause() {
    if (HasCurrentStream()) {
        session_.pauseDownload(CurrentRow());
    }
}

void CListArea::OnResume() {
    if (HasCurrentStream()) {
        session_.resumeDownload(CurrentRow());
    }
}

// The folder the user saved into last, else the desktop's download folder, else home.
QString CListArea::StartFolder() const {
    if (!lastFolder_.isEmpty() && QFileInfo(lastFolder_).isDir()) {
        return lastFolder_;
    }
    return downloadFolder();
}

CListArea::SaveProposal CListArea::ProposeSave(const DetectedStream& record) {
    // A playlist or RTSP session is recorded into a container of its own. Whether a playlist
    // is live is asked of its server, off the window's thread.
    std::optional<RecordSaveChoice> recording;
    if (DownloadStarter::RecordKindOf(record) != RecordKind::kNone) {
        const DetectedStream copy = record;
        recording = RunAside(nullptr, QStringLiteral("プレイリストを確認しています…"),
                             [&copy] { return RecordSaveChoice::For(copy, kRecordProbeSeconds); });
    }
    if (recording) {
        return {recording->fileName, recording->suffix, recording->typeName};
    }
    return {SaveDialogSetup::proposedFileName(record.path, record.suffix), record.suffix,
            record.typeName};
}

// No dialog asks before a file is replaced, so none is: each takes a free name.
void CListArea::OnDownloadToFolder() {
    const QString folder = downloadFolder();
    for (int row : RowsToCopy()) {
        const DetectedStream* record = session_.record(row);
        if (record == nullptr || HoldsDownload(LoadDownloadState(*record))) {
            continue;
        }
        const QString path =
            folder + QLatin1Char('/') + QString::fromStdString(ProposeSave(*record).fileName);
        session_.startDownload(row, QFile::encodeName(path).toStdString(),
                               MonitorSession::ExistingFile::kFreeName);
    }
}

void CListArea::OnSaveAs() {
    const int row = CurrentRow();
    const DetectedStream* record = currentStream();
    if (record == nullptr) {
        return;
    }
    const SaveProposal proposal = ProposeSave(*record);
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(
        {QString::fromStdString(SaveDialogSetup::typeFilter(proposal.typeName, proposal.suffix)),
         QString::fromUtf8(SaveDialogSetup::kAllFilesFilter.data())});
    dialog.setDefaultSuffix(
        QString::fromStdString(SaveDialogSetup::defaultExtension(proposal.suffix)));
    dialog.setDirectory(StartFolder());
    dialog.selectFile(QString::fromStdString(proposal.fileName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return;
    }
    const QString chosen = QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath();
    lastFolder_ = QFileInfo(chosen).absolutePath();
    session_.startDownload(row, QFile::encodeName(chosen).toStdString());
}
