#pragma once

#include "core/store/StoreChangeQueue.h"
#include "core/store/StreamList.h"
#include "core/store/StreamStore.h"

#include <QWidget>

#include <QTimer>
#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

class CDownloadHost;
class CListViewEx;
class DownloadWorker;
class CStreamListModel;
class QAction;
class QMenu;
class QModelIndex;
struct DetectedStream;

// The view of the document: one row per detected stream, and the commands on the row the
// user last clicked. Detections and download progress arrive from other threads through
// AddOrUpdateStream and reach the rows in batches on the user-interface thread.
class CListArea : public QWidget, public StreamList {
    Q_OBJECT
  public:
    enum Command {
        kCommandSave = 139,
        kCommandOpenInBrowser = 140,
        kCommandPlay = 141,
        kCommandCancel = 142,
        kCommandAbort = 145,
        kCommandCopyUrl = 147,
    };
    static constexpr int kListControlId = 1000;
    static constexpr int kContextMenuId = 138;
    static constexpr int kFlushDelayMs = 15;
    // Rows moved into the view per turn of the event loop, so that a flood never stalls it.
    static constexpr int kRowsPerFlush = 2000;

    explicit CListArea(QWidget* parent = nullptr);
    ~CListArea() override;

    // Any thread; never waits for the user interface.
    int AddOrUpdateStream(const DetectedStream* record, int update) override;

    // Empties the list (new or opened document). Safe while downloads run.
    void OnInitialUpdate();
    // Command 147, also forwarded by the frame's Ctrl+C.
    void OnCopyUrl();
    // Runs one of the list commands on the current stream; false for an unknown ID.
    bool OnCommand(int id);
    bool hasCurrentStream() const { return currentStream_ != nullptr; }
    DetectedStream* currentStream() const { return currentStream_; }
    int selectedCount() const;
    // Before the frame goes away: downloads stop and no longer touch the view.
    void shutdown();

    CListViewEx* listCtrl() const { return listCtrl_; }
    CStreamListModel* model() const { return model_; }
    int itemCount() const { return itemCount_; }
    // Downloads whose worker object still exists.
    int downloadCount() const { return static_cast<int>(downloads_.size()); }
    // Moves everything handed over so far into the rows now.
    void flushPending();
    // The context menu with its items enabled for the current stream (not shown).
    QMenu* contextMenu();

    // Records of the rows: valid until the next reset.
    StreamStore& store() { return store_; }
    // Row of the current stream, -1 when there is none.
    int currentRow() const { return currentRow_; }

  signals:
    // A batch of rows or refreshes reached the model.
    void rowsFlushed();

  private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void createActions();
    void resetColumns();
    void wakeForChanges();
    void takeCurrentFrom(const QModelIndex& index);
    void onClicked(const QModelIndex& index);
    void onDoubleClicked(const QModelIndex& index);
    void onContextMenuRequested(const QPoint& pos);
    void updateMenuStates();
    void runDoubleClickCommand();

    void OnSaveAs();
    void OnAbort();
    void OnOpenInBrowser();
    void OnPlay();

    struct Download {
        std::shared_ptr<DetectedStream> record;  // kept alive even when a reset drops its row
        std::unique_ptr<CDownloadHost> host;
        std::unique_ptr<DownloadWorker> worker;  // destroyed before its host
    };
    bool startDownload(int row, const QByteArray& targetPath);
    void onDownloadEnded(CDownloadHost* host);

    CListViewEx* listCtrl_ = nullptr;
    CStreamListModel* model_ = nullptr;
    QMenu* menu_ = nullptr;
    std::unordered_map<int, QAction*> actions_;
    DetectedStream* currentStream_ = nullptr;
    int currentRow_ = -1;
    int itemCount_ = 0;
    QString lastFolder_;

    StreamStore store_;
    // News of the store for the user-interface thread; taken by flushPending().
    std::shared_ptr<StoreChangeQueue> changes_;
    std::atomic<bool> shutDown_{false};
    QTimer flushTimer_;

    // Records of downloads whose row went with a reset; their refreshes are dropped.
    std::mutex orphanMutex_;
    std::unordered_set<const DetectedStream*> orphans_;

    std::list<Download> downloads_;
};
