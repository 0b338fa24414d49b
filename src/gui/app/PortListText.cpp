#include "gui/app/PortListText.h"

#include <QRegularExpression>
#include <QStringList>

QString PortListText::join(std::span<const std::uint16_t> ports) {
    QStringList words;
    for (std::uint16_t port : ports) {
        words << QString::number(port);
    }
    return words.join(QLatin1Char(' '));
}

std::optional<std::vector<std::uint16_t>> PortListText::portNumbers(const QString& text,
                                                                    QString& error) {
    std::vector<std::uint16_t> numbers;
    static const QRegularExpression separators(QStringLiteral("[\\s,、]+"));
    for (const QString& word : text.split(separators, Qt::SkipEmptyParts)) {
        bool number = false;
        const uint port = word.toUInt(&number);
        if (!number || port == 0 || port > 65535) {
            error =
                QStringLiteral("「%1」はポート番号 (1～65535) ではありません。").arg(word.left(16));
            return std::nullopt;
        }
        numbers.push_back(static_cast<std::uint16_t>(port));
    }
    return numbers;
}

QString PortListText::tooMany(std::size_t maxAdded) {
    return QStringLiteral("追加できるポートは %1 個までです。").arg(maxAdded);
}
