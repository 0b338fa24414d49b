#pragma once

#include <QIcon>

// The toolbar's button images, painted at 16 x 15, the size of the toolbar's buttons.
class ToolbarIcons {
  public:
    static QIcon fileNew();
    static QIcon fileOpen();
    static QIcon fileSave();
    static QIcon monitorStart();
    static QIcon monitorStop();
};
