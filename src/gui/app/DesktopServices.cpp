#include "gui/app/DesktopServices.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <cstdio>
#include <cstdlib>

#include "core/detect/SuffixListFile.h"
#include "core/session/HelperCaptureFactory.h"
#include "core/session/KeyLogBrowser.h"
#include "core/session/SystemAdapterSource.h"
#include "gui/app/DocumentPrompts.h"
#include "gui/app/DownloadGuard.h"
#include "gui/app/DownloadLimitSetting.h"
#include "gui/app/DownloadNotice.h"
#include "gui/app/FrameViewAdapter.h"
#include "gui/capture/CSelectAdapter.h"
#include "gui/detect/CSufixDlg.h"
#include "gui/list/CListArea.h"

namespace {

// One line of text, showing `current`; nullopt when cancelled.
std::optional<QString> askLine(QWidget* parent, const QString& title, const QString& prompt,
                               const QString& current) {
    bool ok = false;
    QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, current, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

}  // namespace

FrameServices DesktopServices::Make() {
    FrameServices services;
    services.createView = [](MonitorSession& session, UiBridge& bridge) {
        return std::make_unique<FrameViewAdapter<CListArea>>(new CListArea(session, bridge));
    };
    services.adapterSource = std::make_unique<SystemAdapterSource>();
    services.runAdapterDialog = [](QWidget* parent, int count, const AdapterEntry* adapters,
                                   int initial, int* chosen) {
        CSelectAdapter dialog(parent);
        const DialogResult result = dialog.Run(count, adapters, initial);
        *chosen = dialog.ChosenIndex();
        return result;
    };
    services.runSuffixDialog = [](QWidget* parent, const std::string& suffixFile) {
        CSufixDlg dialog(parent, suffixFile);
        return dialog.exec() == QDialog::Accepted ? DialogResult::kOk : DialogResult::kCancel;
    };
    services.askWatchedPorts = [](QWidget* parent, const QString& current) {
        return askLine(parent, QStringLiteral("監視ポート"),
                       QStringLiteral("80、1755、554 のほかに監視する TCP ポート (空白区切り)\n"
                                      "次にモニタリングを開始したときから使われます:"),
                       current);
    };
    services.askTlsPorts = [](QWidget* parent, const QString& current) {
        return askLine(
            parent, QStringLiteral("TLS ポート"),
            QStringLiteral("443 のほかに TLS (HTTPS) として読む TCP ポート (空白区切り)\n"
                           "次にモニタリングを開始したときから使われます:"),
            current);
    };
    services.askKeyLogFile = [](QWidget* parent, const QString& current) {
        return askLine(parent, QStringLiteral("鍵ログ ファイル"),
                       QStringLiteral("ブラウザが TLS の鍵を書き出すファイル (SSLKEYLOGFILE) の"
                                      "絶対パス。空にすると使いません\n"
                                      "次にモニタリングを開始したときから使われます:"),
                       current);
    };
    services.askDownloadLimit = [](QWidget* parent, const QString& current) {
        return askLine(parent, QStringLiteral("同時ダウンロード数"),
                       QStringLiteral("同時に実行するダウンロードの数 (1 から %1)\n"
                                      "超えた分は順番を待ちます:")
                           .arg(DownloadLimitSetting::kMost),
                       current);
    };
    services.browserEnvironment = &KeyLogBrowser::processEnvironment;
    services.showError = [](QWidget* parent, const QString& text) {
        QMessageBox::warning(parent, QCoreApplication::applicationName(), text);
    };
    services.askAbortDownloads = &DownloadGuard::AskUser;
    services.askSaveChanges = &DocumentPrompts::AskSaveChanges;
    services.askStopMonitoring = &DocumentPrompts::AskStopMonitoring;
    services.askSaveFileName = [](QWidget* parent, const QString& proposed) {
        return QFileDialog::getSaveFileName(
            parent, QStringLiteral("名前を付けて保存"), proposed,
            QStringLiteral("ストリーム一覧 (*.jsonl *.csv);;すべてのファイル (*)"));
    };
    services.notify = &DownloadNotice::send;
    services.exitProcess = [](int code) {
        // At once, as the Exit command promises: settings are on disk, nothing else runs.
        QSettings().sync();
        std::fflush(nullptr);
        std::_Exit(code);
    };
    services.suffixFilePath = [] { return SuffixListFile::defaultPath().string(); };
    return services;
}
