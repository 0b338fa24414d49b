#pragma once

#include <QIcon>
#include <QStringView>
#include <array>

class CMainFrame;

// One command of the main window as data, turned into its QAction by CMainFrame::AddAction.
struct ActionRow {
    int commandId;
    QStringView text;
    // "status text\ntool tip", as in the string table; empty: neither.
    QStringView prompt;
    // Its keys in QKeySequence's text form; the unused places stay empty.
    std::array<QStringView, 2> shortcuts;
    // The toolbar's picture; null: none.
    QIcon (*icon)();
    // What the frame does when it is triggered; null: the application does it, or nothing does.
    void (CMainFrame::*handler)();
};
