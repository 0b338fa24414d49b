#pragma once

#include <QApplication>
#include <memory>

#include "gui/app/FrameServices.h"

class CMainFrame;
class CQuorvexDoc;

// The application: settings location, the one document and its frame, and the commands that
// belong to the application (new, open, about, exit).
class CQuorvexApp : public QApplication {
    Q_OBJECT
  public:
    CQuorvexApp(int& argc, char** argv);
    ~CQuorvexApp() override;

    // Creates the document and the frame and processes the command line: an optional file to
    // open, read once the event loop runs (a file that cannot be opened leaves an empty list,
    // with a message). False when start-up fails.
    bool InitInstance(FrameServices services);

    CMainFrame* MainFrame() const { return frame_.get(); }
    CQuorvexDoc* Document() const { return document_.get(); }

    void OnFileNew();
    void OnFileOpen();
    // Reads `path` as the new document; a refusal or failure is shown to the user. False when
    // the file was refused or could not be read, or the user chose to keep monitoring, the
    // unsaved list or running downloads.
    bool OpenDocumentFile(const QString& path);
    // A recent file: one that no longer exists is dropped from the list, with a message.
    void OpenRecentFile(const QString& path);
    void OnAppAbout();
    void OnAppExit();

    // Where the frame's settings live, as the application's own settings key.
    static void SetSettingsKey();
    // Loads the toolkit's Japanese texts; false when they are not installed.
    bool LoadToolkitTranslations();

  private:
    // True when no download runs or the user let them be aborted (they have ended then).
    bool EndDownloadsFirst();
    void ShowError(const QString& text);

    std::unique_ptr<CQuorvexDoc> document_;
    std::unique_ptr<CMainFrame> frame_;
};
