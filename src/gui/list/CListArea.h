#pragma once

#include <QWidget>

#include <unordered_map>

#include "gui/app/ExternalOpener.h"
#include "gui/app/FailureText.h"

class CListViewEx;
class CStreamListModel;
class MonitorSession;
class QAction;
class QMenu;
class QModelIndex;
class UiBridge;
struct DetectedStream;
struct DownloadOutcome;

// The view of the document: one row per stream of the session's list, and the commands on the
// row the user last clicked. News of the list arrives through the UI bridge and reaches the
// rows in batches.
class CListArea : public QWidget {
    Q_OBJECT
  public:
    enum Command {
        kCommandSave = 139,
        kCommandOpenInBrowser = 140,
        kCommandPlay = 141,
        kCommandCancel = 142,
        kCommandAbort = 145,
        kCommandCopyUrl = 147,
        kCommandCopyAsCurl = 152,
        kCommandCopyAsFfmpeg = 153,
        kCommandCopyAsYtDlp = 154,
    };
    static constexpr int kListControlId = 1000;
    static constexpr int kContextMenuId = 138;
    // Rows moved into the view per turn of the event loop, so that a flood never stalls it.
    static constexpr int kRowsPerFlush = 2000;

    CListArea(MonitorSession& session, UiBridge& bridge, QWidget* parent = nullptr);
    ~CListArea() override;

    // Empties the list (new or opened document). Running downloads go on without a row.
    void OnInitialUpdate();
    // Command 147, also forwarded by the frame's Ctrl+C.
    void OnCopyUrl();
    // Commands 152 to 154: the row as a curl, ffmpeg or yt-dlp command for a POSIX shell, with
    // the request's Referer and User-Agent (and its cookie while cookie reuse is on).
    void OnCopyAsCommand(int id);
    // Runs one of the list commands on the current stream; false for an unknown ID.
    bool OnCommand(int id);
    bool hasCurrentStream() const { return currentStream_ != nullptr; }
    const DetectedStream* currentStream() const { return currentStream_; }
    int selectedCount() const;
    // Before the frame goes away: the view takes no more news.
    void shutdown();

    CListViewEx* listCtrl() const { return listCtrl_; }
    CStreamListModel* model() const { return model_; }
    int itemCount() const { return itemCount_; }
    // Moves everything the session has news of into the rows now.
    void flushPending();
    // The context menu with its items enabled for the current stream (not shown).
    QMenu* contextMenu();

    MonitorSession& session() { return session_; }
    // What hands URLs and files to the desktop.
    ExternalOpener& opener() { return opener_; }
    // Row of the current stream, -1 when there is none.
    int currentRow() const { return currentRow_; }

  signals:
    // A batch of rows or refreshes reached the model.
    void rowsFlushed();

  private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void createActions();
    void resetColumns();
    void takeCurrentFrom(const QModelIndex& index);
    void onClicked(const QModelIndex& index);
    void onDoubleClicked(const QModelIndex& index);
    void onContextMenuRequested(const QPoint& pos);
    void onDownloadEnded(int row, const DownloadOutcome& outcome);
    void updateMenuStates();
    void runDoubleClickCommand();

    QString startFolder() const;
    void showCannotOpen(const FailureText::Box& content);
    void OnSaveAs();
    void OnAbort();
    void OnOpenInBrowser();
    void OnPlay();

    MonitorSession& session_;
    UiBridge& bridge_;
    CListViewEx* listCtrl_ = nullptr;
    CStreamListModel* model_ = nullptr;
    QMenu* menu_ = nullptr;
    std::unordered_map<int, QAction*> actions_;
    const DetectedStream* currentStream_ = nullptr;
    int currentRow_ = -1;
    int itemCount_ = 0;
    bool shutDown_ = false;
    QString lastFolder_;
    ExternalOpener opener_;
};
