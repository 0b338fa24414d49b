#include "gui/app/CQuorvexApp.h"

#include <QAction>
#include <QCommandLineParser>
#include <QFileDialog>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include "gui/app/CAboutDlg.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CQuorvexDoc.h"
#include "gui/app/CommandIds.h"
#include "gui/app/DownloadGuard.h"
#include "gui/app/ProgramIcon.h"
#include "gui/app/RecentFileList.h"
#include "gui/app/RecentFilesMenu.h"

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
    setApplicationVersion(QStringLiteral(QUORVEX_VERSION));
}

bool CQuorvexApp::InitInstance(FrameServices services) {
    // A frame from an earlier start stops its work through its document: it goes first.
    frame_.reset();
    document_ = std::make_unique<CQuorvexDoc>();
    frame_ = std::make_unique<CMainFrame>(document_.get(), std::move(services));
    if (!frame_->Create()) {
        return false;
    }
    document_->SetSession(frame_->Session());
    connect(frame_->Action(ID_FILE_NEW), &QAction::triggered, this, &CQuorvexApp::OnFileNew);
    connect(frame_->Action(ID_FILE_OPEN), &QAction::triggered, this, &CQuorvexApp::OnFileOpen);
    connect(frame_->Action(ID_APP_ABOUT), &QAction::triggered, this, &CQuorvexApp::OnAppAbout);
    connect(frame_->Action(ID_APP_EXIT), &QAction::triggered, this, &CQuorvexApp::OnAppExit);
    connect(frame_->GetRecentFilesMenu(), &RecentFilesMenu::fileChosen, this,
            &CQuorvexApp::OpenRecentFile);

    OnFileNew();
    QCommandLineParser parser;
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("開くストリーム一覧かキャプチャ ファイル"));
    parser.parse(arguments());
    if (!parser.positionalArguments().isEmpty()) {
        // Read once the window shows, so that its progress can be followed and cancelled.
        QTimer::singleShot(0, frame_.get(), [this, path = parser.positionalArguments().first()] {
            OpenDocumentFile(path);
        });
    }
    frame_->LoadWindowSettings();
    return true;
}

bool CQuorvexApp::EndDownloadsFirst() {
    return DownloadGuard::EndDownloadsFirst(frame_.get(), *frame_->Session(),
                                            frame_->Services().askAbortDownloads);
}

void CQuorvexApp::ShowError(const QString& text) {
    if (frame_->Services().showError) {
        frame_->Services().showError(frame_.get(), text);
    }
}

void CQuorvexApp::OnFileNew() {
    if (document_->IsLoading() || !frame_->SaveModified() || !EndDownloadsFirst()) {
        return;
    }
    if (document_->OnNewDocument() && frame_->ActiveView() != nullptr) {
        frame_->ActiveView()->OnInitialUpdate();
    }
    frame_->ShowSecureSummary(document_->SecureSummary());
}

void CQuorvexApp::OnFileOpen() {
    const QString path = QFileDialog::getOpenFileName(
        frame_.get(), QStringLiteral("開く"), QString(),
        QStringLiteral("ストリーム一覧とキャプチャ (*.jsonl *.json *.csv *.pcap *.pcapng *.cap);;"
                       "すべてのファイル (*)"));
    if (!path.isEmpty()) {
        OpenDocumentFile(path);
    }
}

bool CQuorvexApp::OpenDocumentFile(const QString& path) {
    if (document_->IsLoading()) {
        return false;
    }
    // Refused before anything changes: the list and the document stay as they are.
    const QFileInfo info(path);
    QString reason;
    StreamListFile::Kind kind = StreamListFile::Kind::Unknown;
    if (!info.exists()) {
        reason = QStringLiteral("ファイルがありません。");
    } else if (info.isDir()) {
        reason = QStringLiteral("フォルダーです。");
    } else {
        kind = CQuorvexDoc::Sniff(path, &reason);
        if (kind != StreamListFile::Kind::Unknown) {
            reason.clear();  // one of ours
        }
    }
    if (!reason.isEmpty()) {
        ShowError(QStringLiteral("%1 を開けません。\n%2").arg(info.fileName(), reason));
        return false;
    }
    // Live rows would mix with the file's; then the rows the file replaces.
    if (!frame_->StopMonitoringFirst() || !frame_->SaveModified() || !EndDownloadsFirst()) {
        return false;
    }
    document_->OnNewDocument();
    if (frame_->ActiveView() != nullptr) {
        frame_->ActiveView()->OnInitialUpdate();
    }
    if (kind == StreamListFile::Kind::Pcap || kind == StreamListFile::Kind::Pcapng) {
        frame_->PrepareCaptureFileReading();
    }
    QString error;
    QString notice;
    const bool opened = document_->OnOpenDocument(path, frame_.get(), &error, &notice);
    frame_->ShowSecureSummary(document_->SecureSummary());
    if (!opened) {
        ShowError(error);
        return false;
    }
    RecentFileList::add(path);
    if (!notice.isEmpty()) {
        ShowError(notice);
    }
    return true;
}

void CQuorvexApp::OpenRecentFile(const QString& path) {
    if (!QFileInfo::exists(path)) {
        RecentFileList::remove(path);
        ShowError(
            QStringLiteral("%1 がありません。最近使ったファイルの一覧から外しました。").arg(path));
        return;
    }
    OpenDocumentFile(path);
}

void CQuorvexApp::OnAppAbout() {
    CAboutDlg dialog(frame_.get());
    dialog.exec();
}

void CQuorvexApp::OnAppExit() {
    // Exit ends the program at once, but never with a capture thread still running, and
    // unsaved rows and running downloads only when the user lets them go.
    if (!frame_->SaveModified() || !EndDownloadsFirst()) {
        return;
    }
    frame_->SaveWindowSettings();
    frame_->ShutdownWork();
    if (frame_->Services().exitProcess) {
        frame_->Services().exitProcess(0);
    }
}
