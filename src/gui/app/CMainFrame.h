#pragma once

#include <QMainWindow>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/capture/AdapterEntry.h"
#include "core/session/SecureTrafficReader.h"
#include "gui/app/CommandIds.h"
#include "gui/app/FrameServices.h"

struct ActionRow;
class CQuorvexDoc;
class CTreeArea;
class KeyLockState;
class KeyLogBrowser;
class MonitorSession;
class UiBridge;
struct CaptureStatus;
class RecentFilesMenu;
struct DownloadOutcome;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class QToolBar;

// The single main window: menu, toolbar, status bar, the docked type tree and the stream list.
// It owns the adapter list, the engine session (capture, detection, the list's rows and the
// downloads) and the one bridge that brings the session's news to this thread.
class CMainFrame : public QMainWindow {
    Q_OBJECT
  public:
    CMainFrame(CQuorvexDoc* document, FrameServices services, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Builds menus, toolbar, status bar and the tree pane; false when a part cannot be created.
    bool Create();

    QAction* Action(int commandId) const;
    QMenu* Menu(int index) const;
    QToolBar* toolBar() const { return toolBar_; }
    CTreeArea* treeBar() const { return treeBar_; }
    FrameView* ActiveView() const { return view_.get(); }
    CQuorvexDoc* Document() const { return document_; }
    RecentFilesMenu* GetRecentFilesMenu() const { return recentFiles_; }

    CommandId monitorState() const { return monitorState_; }
    bool IsMonitoring() const;
    MonitorSession* Session() const { return session_.get(); }
    int adapterIndex() const { return adapterIndex_; }
    int adapterCount() const { return adapterCount_; }

    // The enabling, checking and radio marks of every command, computed in this one place.
    void UpdateCommandUI();

    void OnStartMonitoring();
    void OnStopMonitoring();
    void OnViewToolBar();
    void OnViewStatusBar();
    void OnViewTreeBar();
    void OnCopyUrl();
    void OnSettings();
    void OnWatchedPorts();
    void OnTlsPorts();
    void OnKeyLogFile();
    // How many downloads run at once: asked for, checked, kept and given to the session.
    void OnDownloadLimit();
    // Starts a browser that writes its TLS secrets to a private key log and has the session
    // follow it from now on (a running capture starts again to do so). Browsers started later
    // write to the same key log.
    void OnStartKeyLogBrowser();
    void OnFileSave();
    void OnFileSaveAs();
    // Before the list's rows go (new, open, close, exit): true when the list holds nothing its
    // file does not, or the user saved it (and it was written) or chose to let the changes go.
    bool SaveModified();
    // Before a file is opened: true when no capture runs, or the user let it stop (it has).
    bool StopMonitoringFirst();
    // A download ended: told on the desktop when the user is in another window.
    void OnDownloadEnded(int row, const DownloadOutcome& outcome);

    // Shows in the status bar how many encrypted connections went unread for lack of keys
    // (none: nothing shown), with their server names in the tool tip.
    void ShowSecureSummary(const SecureTrafficReader::Summary& summary);
    // A capture file is read next: monitoring stops (the session reads encrypted connections
    // on one thread at a time) and the session gets the TLS ports and key log file.
    void PrepareCaptureFileReading();
    // The key log file the session reads: the browser's started from here, else the setting.
    std::string KeyLogPath() const;

    // Stops monitoring, ends the downloads and detaches the view; used by close and exit.
    void ShutdownWork();
    void SaveWindowSettings();
    void LoadWindowSettings();

    const FrameServices& Services() const { return services_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnCaptureStatus(const CaptureStatus& status, int run);
    // Gives the session the TLS settings and starts capturing on `adapter`.
    bool StartCapture(const AdapterEntry& adapter);
    void RestartMonitoring();
    // The TLS ports and key log file, for the next reading; no capture runs.
    void ApplySecureSettings();
    // Asks for a setting's text with `ask`, showing `current`; the text goes to `accept`,
    // which returns false with an error to show, after which the question comes again with
    // the text as typed, until it is accepted or cancelled.
    void EditSetting(const std::function<std::optional<QString>(QWidget*, const QString&)>& ask,
                     const QString& current,
                     const std::function<bool(const QString& text, QString& error)>& accept);

    void CreateView();
    // Every few moments: command states, status bar panes, caption, ended browsers.
    void OnIdle();
    void CreateActions();
    // The row's action, kept under its command id and held by the window.
    QAction* AddAction(const ActionRow& row);
    void GroupMonitorActions();
    // The Referer/User-Agent and cookie switches: as last set, given to the session.
    void KeepRequestContextSwitches();
    void CreateMenus();
    bool CreateToolBar();
    bool CreateStatusBar();
    bool CreateTreeBar();
    void UpdateLockIndicators();
    // Shows in the status bar how many new streams the list dropped (none: nothing shown).
    void UpdateDroppedStreams();
    // The packets the capture saw and the kernel dropped, once a capture has run.
    void UpdatePacketCounts();
    // Monitoring with its adapter, the list's rows (shown of all while filtered), the tree's
    // types and counts.
    void UpdateListStatus();
    QString MonitoringText() const;
    void UpdateCaption();
    int EnumerateAdapters();
    void ShowNoAdapter(int count);
    static std::string AdapterName(const AdapterEntry& adapter);
    // Save under the document's file, or under a name asked for; false when not written.
    bool SaveDocument();
    bool SaveDocumentAs();

    CQuorvexDoc* document_;
    FrameServices services_;
    // The bridge outlives the session, whose threads call it until the session is shut down.
    std::unique_ptr<UiBridge> bridge_;
    std::unique_ptr<MonitorSession> session_;
    std::unique_ptr<FrameView> view_;

    int adapterIndex_ = 0;
    int adapterCount_ = 0;
    std::vector<AdapterEntry> adapters_;
    std::string watchedAdapter_;  // the adapter of the running capture
    CommandId monitorState_ = ID_MONITOR_STOP;

    std::map<int, QAction*> actions_;
    std::vector<QMenu*> menus_;
    QToolBar* toolBar_ = nullptr;
    CTreeArea* treeBar_ = nullptr;
    RecentFilesMenu* recentFiles_ = nullptr;
    QLabel* readyLabel_ = nullptr;
    QLineEdit* filterEdit_ = nullptr;
    QLabel* packetsLabel_ = nullptr;      // packets that passed the capture's filter
    QLabel* lostPacketsLabel_ = nullptr;  // packets the kernel dropped for lack of room
    QLabel* rowsLabel_ = nullptr;
    QLabel* droppedLabel_ = nullptr;  // new streams the full list had to drop
    QLabel* unreadLabel_ = nullptr;   // encrypted connections without keys
    QLabel* capLabel_ = nullptr;
    QLabel* numLabel_ = nullptr;
    QLabel* scrlLabel_ = nullptr;
    QTimer* idleTimer_ = nullptr;
    std::unique_ptr<KeyLockState> keyLocks_;
    // Browsers started with a key log; the first owns the key log, which goes with it.
    std::vector<std::unique_ptr<KeyLogBrowser>> browsers_;
    bool shutDown_ = false;
};
