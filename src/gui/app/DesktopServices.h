#pragma once

#include "gui/app/FrameServices.h"

// The frame's real dependencies: the stream list view, the machine's adapters, live capture,
// the modal dialogs and message boxes, the per-user suffix list.
class DesktopServices {
  public:
    static FrameServices Make();
};
