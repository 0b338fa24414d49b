#include "gui/detect/CSufixDlg.h"

#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cstdio>
#include <cstring>

#include "core/detect/SuffixListFile.h"
#include "gui/ui/DialogUnits.h"

namespace {

constexpr int kLineBuffer = 1024;

std::string trimmed(std::string text) {
    const char* space = " \t\r\n\v\f";
    const auto end = text.find_last_not_of(space);
    text.erase(end == std::string::npos ? 0 : end + 1);
    const auto begin = text.find_first_not_of(space);
    text.erase(0, begin == std::string::npos ? text.size() : begin);
    return text;
}

}  // namespace

const std::array<CSufixDlg::Known, CSufixDlg::kKnownCount>& CSufixDlg::GetKnown() {
    static const std::array<Known, kKnownCount> table{{
        {1010, "asf", ".asf", 5, 20, 26, 10},
        {1011, "rm", ".rm", 45, 20, 24, 10},
        {1014, "wmv", ".wmv", 85, 20, 31, 10},
        {1015, "avi", ".avi", 125, 20, 25, 10},
        {1013, "wma", ".wma", 5, 35, 31, 10},
        {1012, "mid", ".mid", 45, 35, 27, 10},
        {1016, "mp3", ".mp3", 85, 35, 29, 10},
        {1018, "wav", ".wav", 125, 35, 29, 10},
        {1019, "swf", ".swf", 5, 50, 27, 10},
        {1017, "eva", ".eva", 45, 50, 28, 10},
        {1021, "flv", ".flv", 85, 50, 24, 10},
    }};
    return table;
}

CSufixDlg::CSufixDlg(QWidget* parent, std::string suffixFile, ErrorSink showError)
    : QDialog(parent), suffixFile_(std::move(suffixFile)), showError_(std::move(showError)) {
    if (!showError_) {
        showError_ = [](QWidget* owner, const QString& text) {
            QMessageBox::warning(owner, QStringLiteral("対象ファイル設定"), text);
        };
    }
    setWindowTitle(QStringLiteral("対象ファイル設定"));
    const QString title = QStringLiteral("検出対象としたいファイルの種類をチェックしてください");
    const QString otherTitle = QStringLiteral("その他　（１行に拡張子を１つ記述して下さい）");
    DialogUnits du(font());
    du.fitText(font(), title, 176);
    du.fitText(font(), otherTitle, 144);

    auto* label = new QLabel(title, this);
    label->setGeometry(du.rect(5, 5, 176, 8));
    for (std::size_t i = 0; i < GetKnown().size(); ++i) {
        const Known& k = GetKnown()[i];
        auto* box = new QCheckBox(QString::fromLatin1(k.label), this);
        box->setObjectName(QStringLiteral("check%1").arg(k.id));
        // Wide enough for the box and its text whatever the style draws.
        QRect r = du.rect(k.x, k.y, k.w, k.h);
        r.setWidth(std::max(r.width(), box->sizeHint().width()));
        r.setHeight(std::max(r.height(), box->sizeHint().height()));
        box->setGeometry(r);
        boxes_[i] = box;
    }
    auto* otherLabel = new QLabel(otherTitle, this);
    otherLabel->setGeometry(du.rect(5, 67, 144, 8));
    otherEdit_ = new QPlainTextEdit(this);
    otherEdit_->setObjectName(QStringLiteral("edit1020"));
    otherEdit_->setGeometry(du.rect(5, 77, 176, 67));
    otherEdit_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    otherEdit_->setTabChangesFocus(true);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    ok->setGeometry(du.rect(5, 150, 50, 14));
    connect(ok, &QPushButton::clicked, this, &CSufixDlg::accept);
    auto* cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setGeometry(du.rect(131, 150, 50, 14));
    connect(cancel, &QPushButton::clicked, this, &CSufixDlg::reject);

    setFixedSize(du.size(186, 169));
    Read();
}

QCheckBox* CSufixDlg::CheckBox(int id) const {
    for (std::size_t i = 0; i < GetKnown().size(); ++i) {
        if (GetKnown()[i].id == id) {
            return boxes_[i];
        }
    }
    return nullptr;
}

void CSufixDlg::Read() {
    flags_.fill(false);
    others_.clear();
    if (std::FILE* file = std::fopen(suffixFile_.c_str(), "r")) {
        char line[kLineBuffer];
        while (std::fgets(line, sizeof line, file) != nullptr) {
            if (line[0] == '\n' || line[0] == '#') {
                continue;
            }
            const std::string text = trimmed(line);
            bool matched = false;
            for (std::size_t i = 0; i < GetKnown().size() && !matched; ++i) {
                if (text == GetKnown()[i].suffix) {
                    flags_[i] = true;
                    matched = true;
                }
            }
            if (!matched) {
                // Only the leading dot goes: a multi-dot suffix such as ".tar.gz" must come
                // back as it was written.
                const std::size_t start = text.empty() || text[0] != '.' ? 0 : 1;
                others_ += QString::fromUtf8(text.data() + start,
                                             static_cast<qsizetype>(text.size() - start)) +
                           QStringLiteral("\r\n");
            }
        }
        std::fclose(file);
    }
    ToControls();
}

bool CSufixDlg::Write() {
    FromControls();
    writeError_.clear();
    return SuffixListFile::save(suffixFile_, ListText(), writeError_);
}

std::string CSufixDlg::ListText() const {
    std::string text;
    for (std::size_t i = 0; i < GetKnown().size(); ++i) {
        if (flags_[i]) {
            text += GetKnown()[i].suffix;
            text += '\n';
        }
    }
    const QStringList lines = others_.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        std::string token = trimmed(line.toStdString());
        // Written with exactly one leading dot, whether or not the user typed one. A line of
        // blanks would become a suffix of a lone dot, found in nearly every packet.
        token.erase(0, token.find_first_not_of('.'));
        if (token.empty()) {
            continue;
        }
        text += '.' + token + '\n';
    }
    return text;
}

void CSufixDlg::accept() {
    // A list that cannot be written leaves the old one in use; the user's edits stay in the
    // dialog, to try again or cancel.
    if (!Write()) {
        showError_(this, QStringLiteral("対象ファイル設定を保存できませんでした。\n%1")
                             .arg(QString::fromStdString(writeError_)));
        return;
    }
    QDialog::accept();
}

void CSufixDlg::ToControls() {
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        boxes_[i]->setChecked(flags_[i]);
    }
    QString shown = others_;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    otherEdit_->setPlainText(shown);
}

void CSufixDlg::FromControls() {
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
        flags_[i] = boxes_[i]->isChecked();
    }
    others_ = otherEdit_->toPlainText();
    others_.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}
