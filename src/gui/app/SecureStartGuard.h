#pragma once

// The desktop program must never run with raised rights: Qt loads plugins and styles named
// by the environment, so file capabilities or a set-id bit would hand those rights to any
// local user's code. Capture rights belong to the capture helper alone.
class SecureStartGuard {
  public:
    // True when the kernel started us in secure mode (AT_SECURE: file capabilities, setuid
    // or setgid).
    static bool startedWithRaisedRights();
    // The one-line refusal printed on stderr.
    static const char* refusal();
};
