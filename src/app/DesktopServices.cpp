#include "app/DesktopServices.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QSettings>
#include <cstdio>
#include <cstdlib>

#include "app/FrameViewAdapter.h"
#include "app/PcapCaptureFactory.h"
#include "app/SystemAdapterSource.h"
#include "capture/CSelectAdapter.h"
#include "detect/CSufixDlg.h"
#include "detect/SuffixListFile.h"
#include "list/CListArea.h"

FrameServices DesktopServices::Make() {
    FrameServices services;
    services.createView = [] {
        return std::make_unique<FrameViewAdapter<CListArea>>(new CListArea);
    };
    services.adapterSource = std::make_unique<SystemAdapterSource>();
    services.captureFactory = std::make_unique<PcapCaptureFactory>();
    services.runAdapterDialog = [](QWidget* parent, int count, const AdapterEntry* adapters,
                                   int initial, int* chosen) {
        CSelectAdapter dialog(parent);
        const int result = dialog.Run(count, adapters, initial);
        *chosen = dialog.chosenIndex();
        return result;
    };
    services.runSuffixDialog = [](QWidget* parent, const std::string& suffixFile) {
        CSufixDlg dialog(parent, suffixFile);
        return dialog.exec() == QDialog::Accepted ? 1 : 2;
    };
    services.showError = [](QWidget* parent, const QString& text) {
        QMessageBox::warning(parent, QCoreApplication::applicationName(), text);
    };
    services.exitProcess = [](int code) {
        // At once, as the Exit command promises: settings are on disk, nothing else runs.
        QSettings().sync();
        std::fflush(nullptr);
        std::_Exit(code);
    };
    services.suffixFilePath = [] { return SuffixListFile::defaultPath().string(); };
    return services;
}
