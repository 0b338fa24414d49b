#pragma once

#include <QString>

#include <string>
#include <string_view>

#include "core/download/FailureCause.h"

// The texts of a download's failure box: a sentence on the kind of failure, the program's own
// message, then the URL it concerns and what the system said. URLs and details come from the
// network, so every control byte or direction mark is shown as an escape and never acts on the
// text around it.
class FailureText {
  public:
    // Longest URL or detail the box's text shows whole; longer ones lose their middle there
    // and appear complete in the box's details.
    static constexpr int kShownChars = 120;

    struct Box {
        QString text;
        QString details;  // empty when the text holds everything
    };

    static Box make(const std::string& message, const std::string& url, const std::string& detail,
                    FailureCause cause = FailureCause::kUnknown);
    // The same about another subject than a URL ("ファイル: " and its path).
    static Box make(const std::string& message, const QString& label, const std::string& subject,
                    const std::string& detail);

    // UTF-8 as text, with control and format characters as %XX escapes of their bytes.
    static QString visible(std::string_view bytes);
    // At most `maxChars` characters: the head and tail with "…" between them.
    static QString elideMiddle(const QString& text, int maxChars);
};
