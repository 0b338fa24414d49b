#pragma once

#include <QWidget>

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "gui/app/CommandIds.h"
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

// The view of the document: one row per stream of the session's list, sorted and filtered as
// the user asks, and the commands on the highlighted row (copy: on every selected row). News
// of the list arrives through the UI bridge and reaches the rows in slices.
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
        kCommandOpenFolder = 158,
        kCommandDownloadToFolder = 160,
        kCommandPause = 161,
        kCommandResume = 162,
        kCommandDelete = ID_EDIT_CLEAR,
    };
    static constexpr int kListControlId = 1000;
    static constexpr int kContextMenuId = 138;
    // Time given to taking new rows (or a new order) per turn of the event loop, so that a
    // flood or a re-sort of a large list never stalls it.
    static constexpr int kFlushBudgetMs = 8;

    CListArea(MonitorSession& session, UiBridge& bridge, QWidget* parent = nullptr);
    ~CListArea() override;

    // Empties the list (new or opened document). Running downloads go on without a row.
    void OnInitialUpdate();
    // Command 147, also forwarded by the frame's Ctrl+C: the URLs of the selected rows, one a
    // line (the highlighted row's when none is selected).
    void OnCopyUrl();
    // Commands 152 to 154: the selected rows (the highlighted row's when none is selected) as
    // curl, ffmpeg or yt-dlp commands for a POSIX shell, one a line, with each request's
    // Referer and User-Agent (and its cookie while cookie reuse is on).
    void OnCopyAsCommand(int id);
    // The Delete key and the menu's 削除: takes the selected rows out of the list, except those
    // downloading, and tells the user why those stay.
    void OnDelete();
    // Runs one of the list commands on the current stream; false for an unknown ID.
    bool OnCommand(int id);
    bool HasCurrentStream() const { return CurrentRow() >= 0; }
    // The highlighted row's own record; null when no row is highlighted.
    const DetectedStream* currentStream();
    int SelectedCount() const;
    // Store rows of the selected rows, in the order shown.
    std::vector<int> SelectedRows() const;
    // Shows only rows whose host or path holds `text`; empty: all.
    void SetFilterText(const QString& text);
    // Shows only rows of this type name; empty: all.
    void SetTypeFilter(const QString& typeName);
    int ShownRowCount() const;
    std::map<QString, int> TypeCounts() const;
    // Before the frame goes away: the view takes no more news.
    void Shutdown();

    CListViewEx* listCtrl() const { return listCtrl_; }
    CStreamListModel* Model() const { return model_; }
    int itemCount() const { return itemCount_; }
    // Moves everything the session has news of into the rows now.
    void FlushPending();
    // The context menu with its items enabled for the current stream (not shown).
    QMenu* ContextMenu();

    MonitorSession& Session() { return session_; }
    // What hands URLs and files to the desktop.
    ExternalOpener& Opener() { return opener_; }
    // Store row of the highlighted row, -1 when there is none.
    int CurrentRow() const;

  signals:
    // A batch of rows or refreshes reached the model.
    void rowsFlushed();
    // The user took rows out of the list.
    void rowsRemoved();

  private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void CreateActions();
    void ResetColumns();
    void SaveHeader() const;
    void KeepSelection();
    void RestoreSelection();
    void RestoreHeader();
    void OnDoubleClicked(const QModelIndex& index);
    void OnContextMenuRequested(const QPoint& pos);
    void ShowContextMenuAt(const QPoint& viewportPos);
    void OnMenuKey();
    void OnEnter();
    bool CurrentFileExists();
    void OnDownloadEnded(int row, const DownloadOutcome& outcome);
    // What the copy commands take: the selected rows, else the highlighted one.
    std::vector<int> RowsToCopy() const;
    void TellDownloadingRowsStay(int refused, int selected);
    void UpdateMenuStates();
    void RunDoubleClickCommand();

    QString StartFolder() const;
    void ShowCannotOpen(const FailureText::Box& content);
    void OnSaveAs();
    // The selected rows (the highlighted one when none is) into the desktop's download folder,
    // without a dialog, each under a free name; they wait for their turn as usual.
    void OnDownloadToFolder();
    struct SaveProposal {
        std::string fileName;
        std::string suffix;    // of the type filter and default extension
        std::string typeName;  // of the type filter
    };
    // What saving `record` proposes; a playlist is probed for the container it is recorded
    // into.
    static SaveProposal ProposeSave(const DetectedStream& record);
    void OnAbort();
    void OnPause();
    void OnResume();
    void OnOpenInBrowser();
    void OnPlay();
    // The folder of the highlighted row's downloaded file, in the desktop's file manager.
    void OnOpenFolder();

    MonitorSession& session_;
    UiBridge& bridge_;
    CListViewEx* listCtrl_ = nullptr;
    CStreamListModel* model_ = nullptr;
    QMenu* menu_ = nullptr;
    std::unordered_map<int, QAction*> actions_;
    int itemCount_ = 0;
    // The selected rows and the highlighted one (store rows) while the model resets.
    std::vector<int> keptSelection_;
    int keptCurrent_ = -1;
    bool shutDown_ = false;
    QString lastFolder_;
    ExternalOpener opener_;
};
