#include "gui/app/ExternalOpener.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

namespace {

// How long the desktop may take to name its default program.
constexpr int kQueryTimeoutMs = 2000;

std::optional<QString> queryDefaultHandler(const QString& mimeType) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (tool.isEmpty()) {
        return std::nullopt;
    }
    QProcess query;
    query.start(tool, {QStringLiteral("query"), QStringLiteral("default"), mimeType});
    if (!query.waitForFinished(kQueryTimeoutMs) || query.exitStatus() != QProcess::NormalExit) {
        query.kill();
        query.waitForFinished(kQueryTimeoutMs);
        return std::nullopt;
    }
    return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

// The browsers the desktop's opener tries when no program is registered for the web.
bool hasFallbackBrowser() {
    if (!qEnvironmentVariableIsEmpty("BROWSER")) {
        return true;
    }
    for (const char* name : {"x-www-browser", "www-browser", "firefox", "firefox-esr", "chromium",
                             "chromium-browser", "google-chrome", "epiphany", "konqueror"}) {
        if (!QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty()) {
            return true;
        }
    }
    return false;
}

}  // namespace

ExternalOpener::ExternalOpener() : probe_(desktop()) {}

ExternalOpener::Probe ExternalOpener::desktop() {
    Probe probe;
    probe.open = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    probe.defaultHandler = queryDefaultHandler;
    probe.fallbackBrowser = hasFallbackBrowser;
    return probe;
}

bool ExternalOpener::openWebUrl(const QUrl& url) const {
    return open(url, QStringLiteral("x-scheme-handler/") + url.scheme(), true);
}

bool ExternalOpener::openFile(const QString& path) const {
    return open(QUrl::fromLocalFile(path), QMimeDatabase().mimeTypeForFile(path).name(), false);
}

bool ExternalOpener::openFolderOf(const QString& path) const {
    return open(QUrl::fromLocalFile(QFileInfo(path).absolutePath()),
                QStringLiteral("inode/directory"), false);
}

bool ExternalOpener::open(const QUrl& url, const QString& mimeType, bool web) const {
    if (!probe_.open || !probe_.open(url)) {
        return false;
    }
    // The opener started; it fails on its own, unseen, when the desktop has no program.
    const std::optional<QString> handler =
        probe_.defaultHandler ? probe_.defaultHandler(mimeType) : std::nullopt;
    if (!handler || !handler->isEmpty()) {
        return true;
    }
    return web && probe_.fallbackBrowser && probe_.fallbackBrowser();
}
