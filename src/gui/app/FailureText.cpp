#include "gui/app/FailureText.h"

#include <QList>

#include "gui/app/FailureExplanation.h"

namespace {

// Characters that change how the text around them reads: C0, DEL, C1, and the marks that
// reorder or hide text (bidirectional overrides, zero-width characters).
bool actsOnText(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF;
}

QString escaped(char32_t c) {
    QString out;
    for (char byte : QString::fromUcs4(&c, 1).toUtf8()) {
        out += QStringLiteral("%%1")
                   .arg(static_cast<unsigned char>(byte), 2, 16, QLatin1Char('0'))
                   .toUpper();
    }
    return out;
}

}  // namespace

QString FailureText::visible(std::string_view bytes) {
    const QString decoded = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QString out;
    out.reserve(decoded.size());
    for (char32_t c : decoded.toUcs4()) {
        out += actsOnText(c) ? escaped(c) : QString::fromUcs4(&c, 1);
    }
    return out;
}

QString FailureText::elideMiddle(const QString& text, int maxChars) {
    if (text.size() <= maxChars || maxChars < 3) {
        return text;
    }
    const int head = (maxChars - 1) / 2;
    const int tail = maxChars - 1 - head;
    // Never between the halves of a surrogate pair.
    int headEnd = head;
    if (text.at(headEnd - 1).isHighSurrogate()) {
        --headEnd;
    }
    int tailStart = static_cast<int>(text.size()) - tail;
    if (text.at(tailStart).isLowSurrogate()) {
        ++tailStart;
    }
    return text.left(headEnd) + QChar(0x2026) + text.mid(tailStart);
}

FailureText::Box FailureText::make(const std::string& message, const std::string& url,
                                   const std::string& detail, FailureCause cause) {
    Box box = make(message, QStringLiteral("URL: "), url, detail);
    if (const QString explanation = FailureExplanation::of(cause); !explanation.isEmpty()) {
        box.text = explanation + QLatin1Char('\n') + box.text;
    }
    return box;
}

FailureText::Box FailureText::make(const std::string& message, const QString& label,
                                   const std::string& subject, const std::string& detail) {
    Box box;
    box.text = QString::fromStdString(message);
    const QString fullUrl = visible(subject);
    const QString fullDetail = visible(detail);
    bool cut = false;
    auto add = [&](const QString& lineLabel, const QString& value) {
        if (value.isEmpty()) {
            return;
        }
        const QString shown = elideMiddle(value, kShownChars);
        cut = cut || shown.size() != value.size();
        box.text += QStringLiteral("\n") + lineLabel + shown;
    };
    if (!fullUrl.isEmpty() || !fullDetail.isEmpty()) {
        box.text += QLatin1Char('\n');
    }
    add(label, fullUrl);
    add(QStringLiteral("詳細: "), fullDetail);
    if (cut) {
        box.details = label + fullUrl;
        if (!fullDetail.isEmpty()) {
            box.details += QStringLiteral("\n\n詳細: ") + fullDetail;
        }
    }
    return box;
}
