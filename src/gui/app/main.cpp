#include <QMessageBox>

#include "gui/app/CMainFrame.h"
#include "gui/app/CQuorvexApp.h"
#include "gui/app/DesktopServices.h"

int main(int argc, char** argv) {
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
