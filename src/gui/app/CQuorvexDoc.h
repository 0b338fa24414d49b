#pragma once

#include <QObject>
#include <QString>

// The empty document: it keeps nothing, so saving writes an empty file. It gives the frame its
// caption ("Untitled" until saved or opened under a name).
class CQuorvexDoc : public QObject {
    Q_OBJECT
  public:
    explicit CQuorvexDoc(QObject* parent = nullptr);

    QString GetTitle() const { return title_; }
    QString GetPathName() const { return pathName_; }

    bool OnNewDocument();
    bool OnOpenDocument(const QString& path);
    // Writes the (empty) document to `path`; on failure `error` holds the reason.
    bool OnSaveDocument(const QString& path, QString* error);

  signals:
    void titleChanged();

  private:
    void SetPathName(const QString& path);

    QString title_;
    QString pathName_;
};
