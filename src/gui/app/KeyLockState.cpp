#include "gui/app/KeyLockState.h"

#include <cstdlib>

#ifdef QUORVEX_HAVE_X11
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

KeyLockState::KeyLockState() {
#ifdef QUORVEX_HAVE_X11
    // A connection of our own: the indicators are read on a timer, independent of the platform
    // plugin Qt happens to use.
    const char* name = std::getenv("DISPLAY");
    if (name != nullptr && *name != '\0') {
        display_ = XOpenDisplay(name);
    }
#endif
}

KeyLockState::~KeyLockState() {
#ifdef QUORVEX_HAVE_X11
    if (display_ != nullptr) {
        XCloseDisplay(static_cast<Display*>(display_));
    }
#endif
}

KeyLockState::Locks KeyLockState::Query() const {
    Locks locks;
#ifdef QUORVEX_HAVE_X11
    if (display_ == nullptr) {
        return locks;
    }
    auto* display = static_cast<Display*>(display_);
    auto lit = [&](const char* name) {
        Atom atom = XInternAtom(display, name, True);
        int index = 0;
        Bool on = False;
        if (atom == None || !XkbGetNamedIndicator(display, atom, &index, &on, nullptr, nullptr)) {
            return false;
        }
        return on == True;
    };
    locks.caps = lit("Caps Lock");
    locks.num = lit("Num Lock");
    locks.scroll = lit("Scroll Lock");
#endif
    return locks;
}
