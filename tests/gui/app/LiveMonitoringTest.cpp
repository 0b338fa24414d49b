#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <cstring>

#include "core/session/MonitorSession.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CQuorvexApp.h"
#include "gui/app/CommandIds.h"
#include "gui/app/DesktopServices.h"
#include "gui/list/CListArea.h"
#include "gui/list/CStreamListModel.h"
#include "support/NetnsPair.h"
#include "support/TcpExchange.h"

// The desktop program's real adapters and live capture, inside a pair of network namespaces
// made for the test: a request crossing the link becomes a row of the real list view.
class LiveMonitoringTest : public QObject {
    Q_OBJECT

  public:
    explicit LiveMonitoringTest(CQuorvexApp& app) : app_(app) {}

  private slots:
    void requestAcrossTheLinkReachesTheView();

  private:
    CQuorvexApp& app_;
};

void LiveMonitoringTest::requestAcrossTheLinkReachesTheView() {
    NetnsPair pair;
    if (!pair.ok()) {
        if (std::getenv("CI") != nullptr) {
            QFAIL(qPrintable(QStringLiteral("network namespaces needed (CI is set): ") +
                             QString::fromStdString(pair.error())));
        }
        QSKIP(qPrintable(QStringLiteral("needs root and network namespaces: ") +
                         QString::fromStdString(pair.error())));
    }
    QTemporaryDir dir;
    QStringList errors;
    FrameServices services = DesktopServices::Make();
    services.showError = [&errors](QWidget*, const QString& text) { errors.append(text); };
    services.exitProcess = [](int) {};
    services.suffixFilePath = [&dir] {
        return (dir.path() + QStringLiteral("/sufix.txt")).toStdString();
    };
    QVERIFY(app_.InitInstance(std::move(services)));
    CMainFrame* frame = app_.MainFrame();
    auto* view = qobject_cast<CListArea*>(frame->centralWidget());
    QVERIFY(view != nullptr);

    // Enumeration and the capture thread happen inside the server's namespace, where the veth
    // end is the only adapter: no dialog.
    QVERIFY(pair.RunIn(pair.serverNs(), [&] { frame->Action(ID_MONITOR_START)->trigger(); }));
    QVERIFY(frame->IsMonitoring());
    QCOMPARE(frame->adapterCount(), 1);

    const std::string request = "GET /video/clip.wmv HTTP/1.1\r\nHost: media.test\r\n\r\n";
    // The capture opens on its own thread; the request is repeated until the list shows it.
    bool exchanged = true;
    const auto requestSeen = [&] {
        exchanged = exchanged && TcpExchange(pair, 80, request, "HTTP/1.0 204 No Content\r\n\r\n");
        return !exchanged || view->Model()->rowCount() > 0;
    };
    QTRY_VERIFY2(requestSeen(), qPrintable(errors.join(QLatin1Char('\n'))));
    QVERIFY(exchanged);
    QCOMPARE(view->Model()->index(0, 0).data().toString(), QStringLiteral("http://media.test"));
    QCOMPARE(view->Model()->index(0, 1).data().toString(), QStringLiteral("/video/clip.wmv"));
    // The helper's counts reach the status bar while the capture runs.
    auto* packets = frame->statusBar()->findChild<QLabel*>(QStringLiteral("capturedPackets"));
    QVERIFY(packets != nullptr);
    QTRY_VERIFY(frame->Session()->captureStatistics().received > 0);
    QTRY_VERIFY2(!packets->text().startsWith(QStringLiteral("受信 0 ")),
                 qPrintable(packets->text()));
    frame->Action(ID_MONITOR_STOP)->trigger();
    QVERIFY(!frame->IsMonitoring());
    QVERIFY(errors.isEmpty());
    frame->ShutdownWork();
}

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    CQuorvexApp app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    LiveMonitoringTest test(app);
    return QTest::qExec(&test, argc, argv);
}

#include "LiveMonitoringTest.moc"
