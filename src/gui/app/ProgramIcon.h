#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own icon, painted: a blue tile with a watching eye and a red "live" dot.
// resources/quorvex.svg is the same drawing for the desktop's icon theme.
class ProgramIcon {
  public:
    static QPixmap pixmap(int size);
    static QIcon icon();
};
