#include "gui/app/CQuorvexApp.h"

#include <QAction>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "gui/app/CAboutDlg.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CQuorvexDoc.h"
#include "gui/app/CommandIds.h"
#include "gui/app/ProgramIcon.h"
#include "gui/app/RecentFileList.h"

CQuorvexApp::CQuorvexApp(int& argc, char** argv) : QApplication(argc, argv) {
    SetSettingsKey();
    LoadToolkitTranslations();
    setWindowIcon(ProgramIcon::icon());
    setQuitOnLastWindowClosed(true);
}

CQuorvexApp::~CQuorvexApp() {
    frame_.reset();
    document_.reset();
}

// The toolkit's own texts (file dialogs, standard buttons, context menus of edit fields) in
// the program's language. Without the translations installed they stay as built in.
bool CQuorvexApp::LoadToolkitTranslations() {
    auto* translator = new QTranslator(this);
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    installTranslator(translator);
    return true;
}

void CQuorvexApp::SetSettingsKey() {
    // Settings live beside the suffix list, in ~/.config/quorvex.
    setOrganizationName(QStringLiteral("quorvex"));
    setApplicationName(QStringLiteral("Quorvex"));
    setApplicationVersion(QStringLiteral("0.4.1"));
}

bool CQuorvexApp::InitInstance(FrameServices services) {
    document_ = std::make_unique<CQuorvexDoc>();
    frame_ = std::make_unique<CMainFrame>(document_.get(), std::move(services));
    if (!frame_->Create()) {
        return false;
    }
    connect(frame_->action(ID_FILE_NEW), &QAction::triggered, this, &CQuorvexApp::OnFileNew);
    connect(frame_->action(ID_FILE_OPEN), &QAction::triggered, this, &CQuorvexApp::OnFileOpen);
    connect(frame_->action(ID_APP_ABOUT), &QAction::triggered, this, &CQuorvexApp::OnAppAbout);
    connect(frame_->action(ID_APP_EXIT), &QAction::triggered, this, &CQuorvexApp::OnAppExit);

    const QStringList args = arguments();
    if (args.size() > 1) {
        if (!OpenDocumentFile(args.at(1))) {
            return false;
        }
    } else {
        OnFileNew();
    }
    frame_->LoadWindowSettings();
    return true;
}

void CQuorvexApp::OnFileNew() {
    if (document_->OnNewDocument() && frame_->activeView() != nullptr) {
        frame_->activeView()->OnInitialUpdate();
    }
}

void CQuorvexApp::OnFileOpen() {
    const QString path = QFileDialog::getOpenFileName(
        frame_.get(), QStringLiteral("開く"), QString(), QStringLiteral("すべてのファイル (*)"));
    if (!path.isEmpty() && !OpenDocumentFile(path) && frame_->services().showError) {
        frame_->services().showError(frame_.get(),
                                     QStringLiteral("ファイルを開けませんでした。\n%1").arg(path));
    }
}

bool CQuorvexApp::OpenDocumentFile(const QString& path) {
    if (!document_->OnOpenDocument(path)) {
        return false;
    }
    RecentFileList::add(path);
    if (frame_->activeView() != nullptr) {
        frame_->activeView()->OnInitialUpdate();
    }
    return true;
}

void CQuorvexApp::OnAppAbout() {
    CAboutDlg dialog(frame_.get());
    dialog.exec();
}

void CQuorvexApp::OnAppExit() {
    // Exit ends the program at once, but never with a capture thread still running.
    frame_->SaveWindowSettings();
    frame_->ShutdownWork();
    if (frame_->services().exitProcess) {
        frame_->services().exitProcess(0);
    }
}
