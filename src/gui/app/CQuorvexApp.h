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

    // Creates the document and the frame and processes the command line (an optional document
    // to open). False when start-up fails.
    bool InitInstance(FrameServices services);

    CMainFrame* mainFrame() const { return frame_.get(); }
    CQuorvexDoc* document() const { return document_.get(); }

    void OnFileNew();
    void OnFileOpen();
    bool OpenDocumentFile(const QString& path);
    void OnAppAbout();
    void OnAppExit();

    // Where the frame's settings live, as the application's own settings key.
    static void SetSettingsKey();
    // Loads the toolkit's Japanese texts; false when they are not installed.
    bool LoadToolkitTranslations();

  private:
    std::unique_ptr<CQuorvexDoc> document_;
    std::unique_ptr<CMainFrame> frame_;
};
