#pragma once

#include <string>

// Gives up every right the helper was started with: all capabilities (effective, permitted,
// inheritable, ambient), a set-user or set-group id, and the chance to regain any through
// exec (no-new-privileges). False with `failure` set when one step failed; the capture must
// then not go on.
class PrivilegeDrop {
  public:
    static bool dropAll(std::string& failure);
    // The effective capability bits as the kernel reports them (for the helper's own check).
    static bool effectiveCapabilitiesEmpty();
};
