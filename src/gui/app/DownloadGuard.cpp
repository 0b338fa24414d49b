#include "gui/app/DownloadGuard.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "core/session/MonitorSession.h"

namespace {

constexpr int kPollMs = 20;

int runningDownloads(MonitorSession& session) {
    session.reapEndedDownloads();
    return session.downloadCount();
}

}  // namespace

bool DownloadGuard::EndDownloadsFirst(QWidget* parent, MonitorSession& session, const Ask& ask) {
    const int running = runningDownloads(session);
    if (running == 0) {
        return true;
    }
    if (ask && !ask(parent, running)) {
        return false;
    }
    // The ends come back through the bridge, so the event loop runs while waiting; the user's
    // input waits, so no command starts a download or empties the list meanwhile.
    session.cancelAllDownloads();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        // Asked again each time: one that had not started downloading yet could not stop.
        session.cancelAllDownloads();
        if (runningDownloads(session) == 0) {
            loop.quit();
        }
    });
    poll.start(kPollMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return true;
}

bool DownloadGuard::AskUser(QWidget* parent, int running) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quorvex"),
                    QStringLiteral("%1 件のダウンロードが実行中です。\n"
                                   "ダウンロードを中止して続けますか？")
                        .arg(running),
                    QMessageBox::NoButton, parent);
    QPushButton* abort =
        box.addButton(QStringLiteral("中止して続ける(&A)"), QMessageBox::DestructiveRole);
    QPushButton* stay = box.addButton(QStringLiteral("とどまる(&S)"), QMessageBox::RejectRole);
    box.setDefaultButton(stay);
    box.setEscapeButton(stay);
    box.exec();
    return box.clickedButton() == abort;
}
