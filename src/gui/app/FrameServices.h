#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/session/AdapterSource.h"
#include "core/session/CaptureFactory.h"
#include "gui/app/DocumentPrompts.h"
#include "gui/app/FrameView.h"
#include "gui/ui/DialogResult.h"

class MonitorSession;
class QWidget;
class UiBridge;

// Everything the frame depends on outside itself, so that monitoring can run on fakes.
struct FrameServices {
    // The view over the frame's session, whose news come through the frame's bridge.
    std::function<std::unique_ptr<FrameView>(MonitorSession& session, UiBridge& bridge)> createView;
    std::unique_ptr<AdapterSource> adapterSource;
    // The session's captures; null: the live one.
    std::unique_ptr<CaptureFactory> captureFactory;

    // Runs the adapter dialog; returns how it was left and sets `chosen`.
    std::function<DialogResult(QWidget* parent, int count, const AdapterEntry* adapters,
                               int initial, int* chosen)>
        runAdapterDialog;

    // Runs the suffix settings dialog on the given file; returns how it was left.
    std::function<DialogResult(QWidget* parent, const std::string& suffixFile)> runSuffixDialog;

    // Asks for the added TCP ports, showing `current`; nullopt when cancelled.
    std::function<std::optional<QString>(QWidget* parent, const QString& current)> askWatchedPorts;
    // The same for the TCP ports read as TLS besides 443, and for the key log file's path.
    std::function<std::optional<QString>(QWidget* parent, const QString& current)> askTlsPorts;
    std::function<std::optional<QString>(QWidget* parent, const QString& current)> askKeyLogFile;
    // The same for how many downloads run at once.
    std::function<std::optional<QString>(QWidget* parent, const QString& current)> askDownloadLimit;
    // The environment ("NAME=value") a browser started with a key log finds and gets; empty:
    // this process's.
    std::function<std::vector<std::string>()> browserEnvironment;

    // Shows a failure the user must see.
    std::function<void(QWidget* parent, const QString& text)> showError;

    // Asks whether to abort `running` downloads and go on (true) or stay (false); empty: abort.
    std::function<bool(QWidget* parent, int running)> askAbortDownloads;
    // Asks whether to save the changes of the list titled `title` before its rows go; empty:
    // they go without a question.
    std::function<DocumentPrompts::SaveAnswer(QWidget* parent, const QString& title)>
        askSaveChanges;
    // Asks whether monitoring may stop so that a file can be opened; empty: it stops.
    std::function<bool(QWidget* parent)> askStopMonitoring;
    // Asks for the file to save the list in, proposing `proposed`; empty when cancelled.
    std::function<QString(QWidget* parent, const QString& proposed)> askSaveFileName;
    // A desktop notification (title, text); must not wait.
    std::function<void(const QString& title, const QString& text)> notify;

    // Ends the process at once (the Exit command).
    std::function<void(int code)> exitProcess;

    // The suffix list file that the settings dialog edits and the tree pane loads.
    std::function<std::string()> suffixFilePath;
};
