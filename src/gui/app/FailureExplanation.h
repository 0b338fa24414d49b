#pragma once

#include <QString>

#include "core/download/FailureCause.h"

// One short Japanese sentence on what went wrong, by the kind of failure the engine reports,
// for the line before a failure's own message (which ends in a code that says little to most
// users). Empty for a cause that adds nothing to the message.
class FailureExplanation {
  public:
    static QString of(FailureCause cause);
};
