#include "gui/app/CQuorvexDoc.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>

#include "core/session/MonitorSession.h"
#include "core/session/SessionFileLoader.h"
#include "gui/app/FailureText.h"
#include "gui/ui/RunAside.h"

namespace {

const QString kUntitled = QStringLiteral("Untitled");

// A read that ends this soon shows no progress dialog.
constexpr int kQuietLoadMs = 150;
constexpr int kPollMs = 30;
constexpr int kProgressSteps = 1000;

QString fileName(const QString& path) {
    return QFileInfo(path).fileName();
}

}  // namespace

CQuorvexDoc::CQuorvexDoc(QObject* parent) : QObject(parent), title_(kUntitled) {}

CQuorvexDoc::~CQuorvexDoc() {
    StopLoading();
}

bool CQuorvexDoc::OnNewDocument() {
    if (session_ != nullptr) {
        session_->reset();
    }
    pathName_.clear();
    savesCsv_ = false;
    cleanRows_ = 0;
    rowsRemoved_ = false;
    secureSummary_ = {};
    SetTitle(kUntitled);
    return true;
}

bool CQuorvexDoc::IsModified() const {
    if (session_ == nullptr) {
        return false;
    }
    const int rows = session_->rowCount();
    if (rows == 0 && pathName_.isEmpty()) {
        return false;
    }
    return rowsRemoved_ || rows != cleanRows_;
}

StreamListFile::Kind CQuorvexDoc::Sniff(const QString& path, QString* reason) {
    std::string error;
    const StreamListFile::Kind kind = StreamListFile::sniff(path.toStdString(), error);
    if (kind == StreamListFile::Kind::Unknown && reason != nullptr) {
        *reason = error.empty() ? QStringLiteral(
                                      "Quorvex の一覧 (JSON 行か CSV) でも、キャプチャ ファイル "
                                      "(pcap か pcapng) でもありません。")
                                : QString::fromStdString(error);
    }
    return kind;
}

bool CQuorvexDoc::OnOpenDocument(const QString& path, QWidget* dialogParent, QString* error,
                                 QString* notice) {
    using Kind = StreamListFile::Kind;
    QString reason;
    const Kind kind = Sniff(path, &reason);
    auto refuse = [&](const QString& why) {
        if (error != nullptr) {
            *error = QStringLiteral("%1 を開けません。\n%2").arg(fileName(path), why);
        }
        return false;
    };
    if (kind == Kind::Unknown) {
        return refuse(reason);
    }
    if (session_ == nullptr || IsLoading()) {
        return refuse(QStringLiteral("別のファイルを読み込んでいます。"));
    }
    loader_ = std::make_unique<SessionFileLoader>(*session_, path.toStdString(), kind);
    loader_->start();
    WaitForLoader(fileName(path), dialogParent);
    const SessionFileLoader::Result result = loader_->result();
    loader_.reset();

    const bool capture = kind == Kind::Pcap || kind == Kind::Pcapng;
    cleanRows_ = session_->rowCount();
    rowsRemoved_ = false;
    secureSummary_ = result.secure;
    if (result.failed && result.rowsAdded == 0 && !capture) {
        return refuse(QString::fromStdString(result.error));
    }
    if (notice != nullptr) {
        notice->clear();
        if (result.failed) {
            *notice = QStringLiteral("%1 は途中までしか読めませんでした。\n%2")
                          .arg(fileName(path), QString::fromStdString(result.error));
        } else if (result.skipped > 0) {
            *notice = QStringLiteral(
                          "%1 の %2 件のレコードを読み飛ばしました。\n"
                          "最初は %3 行目: %4")
                          .arg(fileName(path))
                          .arg(static_cast<qulonglong>(result.skipped))
                          .arg(static_cast<qulonglong>(result.firstSkippedLine))
                          .arg(QString::fromStdString(result.error));
        }
        if (!result.keyLogError.empty()) {
            // Read on without the secrets: the status bar counts what they would have opened.
            *notice += (notice->isEmpty() ? QString() : QStringLiteral("\n\n")) +
                       FailureText::visible(result.keyLogError);
        }
    }
    if (capture) {
        // The capture is not ours to write: the list it gave has a title but no file yet.
        pathName_.clear();
        savesCsv_ = false;
        SetTitle(fileName(path));
    } else {
        savesCsv_ = kind == Kind::Csv ||
                    (kind == Kind::Empty && StreamListFile::namesCsv(path.toStdString()));
        SetPathName(path);
    }
    return true;
}

void CQuorvexDoc::WaitForLoader(const QString& name, QWidget* dialogParent) {
    // User input waits meanwhile, so no command can change the list under the reading.
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer quiet;
    quiet.start();
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (loader_->finished() || quiet.elapsed() >= kQuietLoadMs) {
            loop.quit();
        }
    });
    poll.start(kPollMs / 3);
    if (!loader_->finished()) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    if (loader_->finished()) {
        loader_->stop();
        return;
    }
    QProgressDialog progress(QStringLiteral("%1 を読み込んでいます...").arg(name),
                             QStringLiteral("キャンセル"), 0, kProgressSteps, dialogParent);
    progress.setWindowTitle(QStringLiteral("Quorvex"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    progress.show();
    disconnect(&poll, nullptr, &loop, nullptr);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        const std::uint64_t total = loader_->bytesTotal();
        if (total > 0 && !progress.wasCanceled()) {
            progress.setValue(static_cast<int>(loader_->bytesDone() * kProgressSteps / total));
        }
        // A cancel keeps the rows found so far in the list.
        if (loader_->finished() || progress.wasCanceled()) {
            loop.quit();
        }
    });
    connect(&progress, &QProgressDialog::canceled, &loop, &QEventLoop::quit);
    poll.start(kPollMs);
    loop.exec();
    loader_->stop();
}

void CQuorvexDoc::StopLoading() {
    if (loader_ != nullptr) {
        loader_->stop();
    }
}

bool CQuorvexDoc::OnSaveDocument(const QString& path, QString* error) {
    auto fail = [&](const QString& why) {
        if (error != nullptr) {
            *error = QStringLiteral("%1 に保存できません。\n%2").arg(fileName(path), why);
        }
        return false;
    };
    if (session_ == nullptr) {
        return fail(QStringLiteral("一覧がありません。"));
    }
    // A file that is there and not one of ours (a capture, anything else) is never replaced,
    // even under the document's own name: something else may have been put there since.
    if (QFileInfo::exists(path)) {
        QString reason;
        const StreamListFile::Kind kind = Sniff(path, &reason);
        if (kind != StreamListFile::Kind::Empty && kind != StreamListFile::Kind::JsonLines &&
            kind != StreamListFile::Kind::Csv) {
            return fail(QStringLiteral("Quorvex の一覧ではないファイルは上書きしません。"));
        }
    }
    const bool csv = path == pathName_ ? savesCsv_ : StreamListFile::namesCsv(path.toStdString());
    const int rows = session_->rowCount();
    std::atomic<int> row{0};
    std::string why;
    // A large list takes a moment to write: the window goes on painting and shows how far.
    const bool saved = RunAside(
        nullptr, QStringLiteral("%1 に保存しています…").arg(fileName(path)),
        [&] {
            return StreamListFile::save(
                path.toStdString(), csv,
                [&](DetectedStream& out) {
                    const int next = row.load(std::memory_order_relaxed);
                    if (next >= rows || !session_->copyRecordToSave(next, out)) {
                        return false;
                    }
                    row.store(next + 1, std::memory_order_relaxed);
                    return true;
                },
                why);
        },
        [&row] { return row.load(std::memory_order_relaxed); }, rows);
    if (!saved) {
        return fail(QString::fromStdString(why));
    }
    cleanRows_ = rows;
    rowsRemoved_ = false;
    savesCsv_ = csv;
    SetPathName(path);
    return true;
}

void CQuorvexDoc::SetPathName(const QString& path) {
    pathName_ = path;
    SetTitle(fileName(path));
}

void CQuorvexDoc::SetTitle(const QString& title) {
    title_ = title;
    emit titleChanged();
}
