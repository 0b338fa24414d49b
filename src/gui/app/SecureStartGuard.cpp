#include "gui/app/SecureStartGuard.h"

#include <sys/auxv.h>

bool SecureStartGuard::startedWithRaisedRights() {
    return getauxval(AT_SECURE) != 0;
}

const char* SecureStartGuard::refusal() {
    return "quorvex: refusing to start with file capabilities or setuid/setgid: capture "
           "rights belong to the helper quorvex-capture alone (see README, \"Capturing without "
           "root\")";
}
