#pragma once

#include <QString>

#include "core/session/SecureTrafficReader.h"

// The status bar's note on encrypted connections that went unread for lack of keys. Server
// names come from the network: they are shown as plain text with control characters escaped.
class UnreadConnectionsNote {
  public:
    // Names listed in the tool tip, the most frequent first; the rest are counted.
    static constexpr int kMaxNamesShown = 20;
    // Longer names lose their middle.
    static constexpr int kMaxNameChars = 80;

    // Empty when no connection went unread.
    static QString text(const SecureTrafficReader::Summary& summary);
    // One server name a line with its count; plain text, never taken for rich text.
    static QString toolTip(const SecureTrafficReader::Summary& summary);
};
