#pragma once

#include <QString>

#include <string>

struct CaptureStatus;

// The box the user sees when a capture cannot start or breaks off, in Japanese throughout for
// the causes the engine names (no rights, no helper, no such or a down interface); anything
// else keeps the engine's own words as its detail.
class CaptureFailureText {
  public:
    // `chosen` is the adapter the capture was started on: a report that names no interface
    // (a helper that died before it opened one) is told with that name.
    static QString make(const CaptureStatus& status, const std::string& chosen = {});
};
