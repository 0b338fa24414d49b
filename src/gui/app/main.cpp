#include <QMessageBox>

#include <cstdio>

#include "gui/app/CMainFrame.h"
#include "gui/app/CQuorvexApp.h"
#include "gui/app/DesktopServices.h"
#include "gui/app/SecureStartGuard.h"

int main(int argc, char** argv) {
    // Before any Qt object exists: nothing named by the environment may load with our rights.
    if (SecureStartGuard::startedWithRaisedRights()) {
        std::fprintf(stderr, "%s\n", SecureStartGuard::refusal());
        return 1;
    }
    CQuorvexApp app(argc, argv);
    if (!app.InitInstance(DesktopServices::Make())) {
        if (app.mainFrame() == nullptr || app.mainFrame()->treeBar() == nullptr) {
            QMessageBox::critical(nullptr, QStringLiteral("Quorvex"),
                                  QStringLiteral("メイン ウィンドウを作成できませんでした。"));
        }
        return 1;
    }
    app.mainFrame()->show();
    return app.exec();
}
