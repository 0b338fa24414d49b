#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "core/session/SecureTrafficReader.h"
#include "core/store/StreamListFile.h"

class MonitorSession;
class SessionFileLoader;
class QWidget;

// The document is the stream list. Saving writes the session's rows (JSON lines, or CSV when
// the name ends in ".csv"); opening reads a saved list back or detects a capture file into the
// list. What a file holds is told by its bytes; a file that is none of these is refused and
// never becomes the document's file, so it is never written over. A capture file gives the
// document its title but no file: saving then asks for a name.
class CQuorvexDoc : public QObject {
    Q_OBJECT
  public:
    explicit CQuorvexDoc(QObject* parent = nullptr);
    ~CQuorvexDoc() override;

    // The session whose list this document is; set once by the application.
    void SetSession(MonitorSession* session) { session_ = session; }

    QString GetTitle() const { return title_; }
    QString GetPathName() const { return pathName_; }
    // The list holds rows its file does not: it has more or fewer rows than when it was last
    // opened, saved or emptied, or rows were taken out since. An empty list without a file of
    // its own holds nothing to lose.
    bool IsModified() const;
    // Rows were taken out of the list: it differs from its file whatever its row count.
    void SetModifiedFlag() { rowsRemoved_ = true; }

    // Empties the list (its running downloads must have ended) and forgets the file.
    bool OnNewDocument();
    // Reads `path` into the (already emptied) list; a window-modal progress dialog over
    // `dialogParent` lets the user cancel a long read, keeping the rows found so far. False
    // with `error` (Japanese, naming the file) when the file is refused or cannot be read;
    // `notice` tells of records skipped or a read cut short.
    bool OnOpenDocument(const QString& path, QWidget* dialogParent, QString* error,
                        QString* notice = nullptr);
    // Writes the list to `path`; on failure `error` holds the reason and the old file stays.
    bool OnSaveDocument(const QString& path, QString* error);

    // What the file holds, by its bytes; Unknown with `reason` (Japanese) when none of ours.
    static StreamListFile::Kind Sniff(const QString& path, QString* reason);

    // The encrypted connections of the capture file read last; empty after OnNewDocument().
    const SecureTrafficReader::Summary& SecureSummary() const { return secureSummary_; }

    bool IsLoading() const { return loader_ != nullptr; }
    // Ends a running read at once (the program is closing).
    void StopLoading();

  signals:
    void titleChanged();

  private:
    void SetPathName(const QString& path);
    void SetTitle(const QString& title);
    // Runs the loader until it ends or the user cancels.
    void WaitForLoader(const QString& name, QWidget* dialogParent);

    MonitorSession* session_ = nullptr;
    std::unique_ptr<SessionFileLoader> loader_;
    QString title_;
    QString pathName_;
    bool savesCsv_ = false;     // the form of the file the document has
    int cleanRows_ = 0;         // rows when last opened, saved or emptied
    bool rowsRemoved_ = false;  // since then
    SecureTrafficReader::Summary secureSummary_;
};
