#pragma once

#include <QMainWindow>
#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "core/session/CaptureReceiver.h"
#include "gui/app/FrameServices.h"
#include "core/capture/AdapterEntry.h"

class CQuorvexDoc;
class CTreeArea;
class KeyLockState;
class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;

// The single main window: menu, toolbar, status bar, the docked type tree and the stream list;
// it owns the adapter list and, while monitoring runs, the capture engine.
class CMainFrame : public QMainWindow, private CaptureReceiver {
    Q_OBJECT
  public:
    CMainFrame(CQuorvexDoc* document, FrameServices services, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Builds menus, toolbar, status bar and the tree pane; false when a part cannot be created.
    bool Create();

    QAction* action(int commandId) const;
    QMenu* menu(int index) const;
    QToolBar* toolBar() const { return toolBar_; }
    CTreeArea* treeBar() const { return treeBar_; }
    FrameView* activeView() const { return view_.get(); }
    CQuorvexDoc* document() const { return document_; }

    int monitorState() const { return monitorState_; }
    bool isMonitoring() const { return capture_ != nullptr; }
    int adapterIndex() const { return adapterIndex_; }
    int adapterCount() const { return adapterCount_; }

    // The enabling, checking and radio marks of every command, computed in this one place.
    void UpdateCommandUI();

    void OnStartMonitoring();
    void OnStopMonitoring();
    void OnViewTreeBar();
    void OnCopyUrl();
    void OnSettings();
    void OnFileSave();
    void OnFileSaveAs();

    // The capture thread's hand-off: decode and dispatch into the view, on that thread.
    void OnCapturedPacket(const CapturedPacket* packet) override;

    // Stops monitoring and detaches the view from downloads; used by close and exit.
    void ShutdownWork();
    void SaveWindowSettings() const;
    void LoadWindowSettings();

    const FrameServices& services() const { return services_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnCaptureFailed(const std::string& interfaceName, const std::string& message,
                         bool lost) override;
    void HandleCaptureFailure(int generation, const QString& text);

    void CreateActions();
    QAction* AddAction(int commandId, const QString& text, const QString& prompt = QString());
    void CreateMenus();
    bool CreateToolBar();
    bool CreateStatusBar();
    bool CreateTreeBar();
    void UpdateLockIndicators();
    void UpdateCaption();
    int EnumerateAdapters();
    bool SaveDocumentAs();

    CQuorvexDoc* document_;
    FrameServices services_;
    std::unique_ptr<FrameView> view_;

    std::unique_ptr<CaptureEngine> capture_;
    int adapterIndex_ = 0;
    int adapterCount_ = 0;
    std::vector<AdapterEntry> adapters_;
    int monitorState_ = 133;
    // Bumped at each start; a failure report carries the value of the capture that sent it.
    std::atomic<int> captureGeneration_{0};
    // The view as the capture thread sees it; null once the frame shuts down.
    std::atomic<StreamList*> packetTarget_{nullptr};

    std::map<int, QAction*> actions_;
    std::vector<QMenu*> menus_;
    QToolBar* toolBar_ = nullptr;
    CTreeArea* treeBar_ = nullptr;
    QLabel* readyLabel_ = nullptr;
    QLabel* capLabel_ = nullptr;
    QLabel* numLabel_ = nullptr;
    QLabel* scrlLabel_ = nullptr;
    QTimer* idleTimer_ = nullptr;
    std::unique_ptr<KeyLockState> keyLocks_;
    bool shutDown_ = false;
};
