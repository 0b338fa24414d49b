#pragma once

#include <QString>

struct CaptureStatus;

// The box the user sees when a capture cannot start or breaks off, in Japanese throughout for
// the failures the engine names (no rights, no helper, no such or a down interface); anything
// else keeps the engine's own words as its detail.
class CaptureFailureText {
  public:
    static QString make(const CaptureStatus& status);
};
