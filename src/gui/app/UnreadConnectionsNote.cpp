#include "gui/app/UnreadConnectionsNote.h"

#include <QStringList>

#include <algorithm>
#include <string>
#include <vector>

#include "gui/app/FailureText.h"

namespace {

using NameCount = std::pair<const std::string*, std::uint64_t>;

// The most frequent names first, then by name; at most `limit` of them.
std::vector<NameCount> mostFrequent(const std::map<std::string, std::uint64_t>& names,
                                    std::size_t limit) {
    std::vector<NameCount> all;
    all.reserve(names.size());
    for (const auto& [name, count] : names) {
        all.emplace_back(&name, count);
    }
    const std::size_t shown = std::min(limit, all.size());
    std::partial_sort(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(shown), all.end(),
                      [](const NameCount& a, const NameCount& b) {
                          return a.second != b.second ? a.second > b.second : *a.first < *b.first;
                      });
    all.resize(shown);
    return all;
}

}  // namespace

QString UnreadConnectionsNote::text(const SecureTrafficReader::Summary& summary) {
    const std::uint64_t unread = summary.withoutKeysCount();
    if (unread == 0) {
        return {};
    }
    return QStringLiteral("暗号化された接続 %1 件は鍵がないため読めません")
        .arg(static_cast<qulonglong>(unread));
}

QString UnreadConnectionsNote::toolTip(const SecureTrafficReader::Summary& summary) {
    if (summary.withoutKeysCount() == 0) {
        return {};
    }
    // A first line of our own without '<' keeps the tool tip from being taken for rich text.
    QStringList lines{QStringLiteral("鍵がなかった接続のサーバー名:")};
    const std::vector<NameCount> shown = mostFrequent(summary.withoutKeys, kMaxNamesShown);
    for (const auto& [name, count] : shown) {
        const QString visible =
            name->empty() ? QStringLiteral("(名前なし)")
                          : FailureText::elideMiddle(FailureText::visible(*name), kMaxNameChars);
        // In one go: a name's escapes look like the place holders of a second arg().
        lines << QStringLiteral("%1 (%2)").arg(visible, QString::number(count));
    }
    if (summary.withoutKeys.size() > shown.size()) {
        lines << QStringLiteral("ほか %1 件のサーバー")
                     .arg(static_cast<qulonglong>(summary.withoutKeys.size() - shown.size()));
    }
    return lines.join(QLatin1Char('\n'));
}
