#pragma once

#include "list/StreamList.h"

#include <QWidget>

#include <QTimer>
#include <array>
#include <atomic>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

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

  signals:
    // A batch of rows or refreshes reached the model.
    void rowsFlushed();

  private:
    using StatusTexts = std::array<std::array<char, 32>, 4>;

    bool eventFilter(QObject* watched, QEvent* event) override;
    void createActions();
    void resetColumns();
    void scheduleFlush();
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

    static StatusTexts statusTextsOf(const DetectedStream& record);

    struct Download {
        DetectedStream* record;
        std::unique_ptr<DetectedStream> orphan;  // the record, once a reset dropped its row
        std::unique_ptr<CDownloadHost> host;
        std::unique_ptr<DownloadWorker> worker;  // destroyed before its host
    };
    bool startDownload(DetectedStream* record, const QByteArray& targetPath);
    void onDownloadEnded(CDownloadHost* host);
    void keepRunningDownloadsAlive();

    CListViewEx* listCtrl_ = nullptr;
    CStreamListModel* model_ = nullptr;
    QMenu* menu_ = nullptr;
    std::unordered_map<int, QAction*> actions_;
    DetectedStream* currentStream_ = nullptr;
    int itemCount_ = 0;
    QString lastFolder_;

    // Hand-over from other threads to the user-interface thread.
    std::mutex pendingMutex_;
    std::vector<DetectedStream*> pendingAdds_;
    std::unordered_map<DetectedStream*, StatusTexts> pendingRefreshes_;
    std::atomic<bool> flushQueued_{false};
    std::atomic<bool> shutDown_{false};
    QTimer flushTimer_;

    // Records, one per distinct host and path.
    std::deque<std::unique_ptr<DetectedStream>> records_;
    std::unordered_map<std::string, DetectedStream*> index_;
    // Records of downloads that outlived their row; their refreshes are dropped.
    std::unordered_set<const DetectedStream*> orphans_;

    std::list<Download> downloads_;
};
