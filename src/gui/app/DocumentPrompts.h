#pragma once

class QString;
class QWidget;

// The questions asked before the list's rows go: the changes of a list that holds rows its
// file does not, and monitoring that would go on adding live rows to a file being opened.
class DocumentPrompts {
  public:
    enum class SaveAnswer { kSave, kDiscard, kCancel };

    // "変更を保存しますか?" with 保存, 保存しない and キャンセル (also Escape).
    static SaveAnswer AskSaveChanges(QWidget* parent, const QString& title);
    // True when the user lets monitoring stop so that a file can be opened.
    static bool AskStopMonitoring(QWidget* parent);
};
