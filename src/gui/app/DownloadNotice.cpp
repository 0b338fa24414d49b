#include "gui/app/DownloadNotice.h"

#include <QApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include "core/download/DownloadOutcome.h"
#include "gui/app/FailureExplanation.h"

QString DownloadNotice::body(const DownloadOutcome& outcome, const QString& subject) {
    QString text;
    switch (outcome.kind) {
        case DownloadOutcome::Kind::kCompleted:
            text = QStringLiteral("ダウンロードが完了しました");
            break;
        case DownloadOutcome::Kind::kCancelled:
            text = QStringLiteral("ダウンロードを中止しました");
            break;
        case DownloadOutcome::Kind::kFailed:
            text = QStringLiteral("ダウンロードに失敗しました");
            break;
    }
    text += subject.isEmpty() ? QStringLiteral("。") : QStringLiteral(": ") + subject;
    if (outcome.kind != DownloadOutcome::Kind::kFailed) {
        return text;
    }
    if (const QString explanation = FailureExplanation::of(outcome.cause); !explanation.isEmpty()) {
        text += QLatin1Char('\n') + explanation;
    }
    if (!outcome.message.empty()) {
        text += QLatin1Char('\n') + QString::fromStdString(outcome.message);
    }
    return text;
}

void DownloadNotice::send(const QString& title, const QString& body) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("notify-send"));
    if (!tool.isEmpty()) {
        // "--" keeps a text that starts with '-' from being taken for an option.
        QProcess::startDetached(
            tool, {QStringLiteral("--app-name=") + title, QStringLiteral("--icon=quorvex"),
                   QStringLiteral("--"), title, body});
        return;
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    static QSystemTrayIcon* tray = nullptr;
    if (tray == nullptr) {
        tray = new QSystemTrayIcon(QApplication::windowIcon(), qApp);
        tray->setToolTip(title);
        tray->show();
    }
    tray->showMessage(title, body);
}
