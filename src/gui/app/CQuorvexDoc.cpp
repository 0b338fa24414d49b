#include "gui/app/CQuorvexDoc.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

CQuorvexDoc::CQuorvexDoc(QObject* parent) : QObject(parent), title_(QStringLiteral("Untitled")) {}

bool CQuorvexDoc::OnNewDocument() {
    pathName_.clear();
    title_ = QStringLiteral("Untitled");
    emit titleChanged();
    return true;
}

bool CQuorvexDoc::OnOpenDocument(const QString& path) {
    // The document has no content: opening only checks that the file can be read.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    SetPathName(path);
    return true;
}

bool CQuorvexDoc::OnSaveDocument(const QString& path, QString* error) {
    // Written aside and renamed into place: a save that fails leaves the old file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.commit()) {
        if (error != nullptr) {
            *error = file.errorString();
        }
        return false;
    }
    SetPathName(path);
    return true;
}

void CQuorvexDoc::SetPathName(const QString& path) {
    pathName_ = path;
    title_ = QFileInfo(path).fileName();
    emit titleChanged();
}
