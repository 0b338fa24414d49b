#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <cstring>

#include "core/session/MonitorSession.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CQuorvexApp.h"
#include "gui/app/DownloadNotice.h"
#include "gui/app/FrameFakes.h"
#include "gui/app/FrameViewAdapter.h"
#include "support/FixtureServer.h"
#include "support/WhenModal.h"

// A download that ends while the user looks elsewhere reaches the desktop's notification
// service: the program's own notice, on a session bus of the test's own
// (tests/support/notification_service.py under dbus-run-session).
class DownloadNoticeTest : public QObject {
    Q_OBJECT

  public:
    explicit DownloadNoticeTest(CQuorvexApp& app) : app_(app) {}

  private slots:
    void endedDownloadsReachTheNotificationService_data();
    void endedDownloadsReachTheNotificationService();

  private:
    // The service's lines of one kind ("ADDRESS", "NOTIFY"), without the kind.
    QStringList linesOf(QProcess& service, const QString& kind);

    CQuorvexApp& app_;
    QTemporaryDir dir_;
    CaptureLog log_;
    int adapters_ = 0;
    QStringList lines_;
};

QStringList DownloadNoticeTest::linesOf(QProcess& service, const QString& kind) {
    while (service.canReadLine()) {
        lines_ << QString::fromUtf8(service.readLine()).trimmed();
    }
    QStringList found;
    for (const QString& line : lines_) {
        if (line.startsWith(kind + QLatin1Char(' '))) {
            found << line.mid(kind.size() + 1);
        }
    }
    return found;
}

void DownloadNoticeTest::endedDownloadsReachTheNotificationService_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("body");  // how the notice's text begins
    QTest::addColumn<bool>("box");      // a failure's box, answered before its notice goes
    QTest::newRow("completed") << "/file/clip.wmv?size=3000"
                               << "ダウンロードが完了しました: clip.wmv" << false;
    QTest::newRow("failed") << "/status/404/gone.wmv"
                            << "ダウンロードに失敗しました: gone.wmv\n"
                            << true;
}

void DownloadNoticeTest::endedDownloadsReachTheNotificationService() {
    QFETCH(QString, path);
    QFETCH(QString, body);
    QFETCH(bool, box);
    lines_.clear();
    QProcess service;
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(QStringLiteral("dbus-run-session"),
                  {QStringLiteral("--"), QStringLiteral("/usr/bin/python3"),
                   QStringLiteral(QUORVEX_SOURCE_DIR "/tests/support/notification_service.py"),
                   QStringLiteral("120")});
    while (linesOf(service, QStringLiteral("ADDRESS")).isEmpty() &&
           service.waitForReadyRead(10000)) {
    }
    const QStringList address = linesOf(service, QStringLiteral("ADDRESS"));
    if (address.isEmpty()) {
        if (std::getenv("CI") != nullptr) {
            QFAIL("no session bus with the test's notification service (CI is set)");
        }
        QSKIP("needs dbus-run-session, python3-dbus and python3-gi");
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.first().toUtf8());

    FixtureServer server(60);
    QVERIFY(server.running());
    FrameServices services;
    services.createView = [](MonitorSession&, UiBridge&) {
        return std::make_unique<FrameViewAdapter<FakeView>>(new FakeView);
    };
    services.adapterSource = std::make_unique<FakeAdapterSource>(adapters_);
    services.captureFactory = std::make_unique<FakeCaptureFactory>(log_);
    services.exitProcess = [](int) {};
    services.notify = &DownloadNotice::send;
    QVERIFY(app_.InitInstance(std::move(services)));
    DetectedStream record{};
    std::strcpy(record.scheme, "http");
    std::snprintf(record.host, sizeof record.host, "http://127.0.0.1:%d", server.port());
    std::strcpy(record.path, path.toUtf8().constData());
    MonitorSession& session = *app_.MainFrame()->Session();
    session.addStream(record);
    if (box) {
        whenModal<QMessageBox>([](QMessageBox* shown) { return shown->close(); });
    }
    // The window was never shown: the user is elsewhere.
    const QString name = path.section(QLatin1Char('/'), -1).section(QLatin1Char('?'), 0, 0);
    QVERIFY(session.startDownload(0, dir_.filePath(name).toStdString()));
    QTRY_COMPARE_WITH_TIMEOUT(linesOf(service, QStringLiteral("NOTIFY")).size(), 1, 20000);
    const QJsonObject call =
        QJsonDocument::fromJson(linesOf(service, QStringLiteral("NOTIFY")).first().toUtf8())
            .object();
    QCOMPARE(call.value(QStringLiteral("summary")).toString(), QStringLiteral("Quorvex"));
    QCOMPARE(call.value(QStringLiteral("app")).toString(), QStringLiteral("Quorvex"));
    QCOMPARE(call.value(QStringLiteral("icon")).toString(), QStringLiteral("quorvex"));
    const QString said = call.value(QStringLiteral("body")).toString();
    QVERIFY2(said.startsWith(body), qPrintable(said));
    app_.MainFrame()->ShutdownWork();
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    service.closeWriteChannel();  // the service's signal to end, and its bus with it
    QVERIFY(service.waitForFinished(10000));
}

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    CQuorvexApp app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    DownloadNoticeTest test(app);
    return QTest::qExec(&test, argc, argv);
}

#include "DownloadNoticeTest.moc"
