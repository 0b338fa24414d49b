#include <QMessageBox>

#include <cstdio>
#include <cstring>

#include "gui/app/CMainFrame.h"
#include "gui/app/CQuorvexApp.h"
#include "gui/app/DesktopServices.h"
#include "gui/app/SecureStartGuard.h"

namespace {

constexpr const char* kUsage =
    "usage: quorvex [FILE]\n"
    "       quorvex --help | --version\n"
    "\n"
    "Watches a network adapter, lists the media streams requested over it and downloads\n"
    "them. FILE is a saved stream list (JSON lines or CSV) or a pcap/pcapng capture to\n"
    "open at start. The toolkit's own options (-platform NAME, -style NAME, ...) are\n"
    "accepted as well.\n";

// Answered before the toolkit starts, so that they work without a display.
bool answeredWithoutWindow(int argc, char** argv) {
    if (argc != 2) {
        return false;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("quorvex %s\n", QUORVEX_VERSION);
        return true;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, stdout);
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any Qt object exists: nothing named by the environment may load with our rights.
    if (SecureStartGuard::startedWithRaisedRights()) {
        std::fprintf(stderr, "%s\n", SecureStartGuard::refusal());
        return 1;
    }
    if (answeredWithoutWindow(argc, argv)) {
        return 0;
    }
    CQuorvexApp app(argc, argv);
    if (!app.InitInstance(DesktopServices::Make())) {
        if (app.MainFrame() == nullptr || app.MainFrame()->treeBar() == nullptr) {
            QMessageBox::critical(nullptr, QStringLiteral("Quorvex"),
                                  QStringLiteral("メイン ウィンドウを作成できませんでした。"));
        }
        return 1;
    }
    app.MainFrame()->show();
    return app.exec();
}
