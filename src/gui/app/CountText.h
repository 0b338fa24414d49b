#pragma once

#include <QString>

// A count as the user reads it, its digits grouped by thousands ("50,000"), whatever locale
// the process runs in.
class CountText {
  public:
    static QString of(long long count);
};
