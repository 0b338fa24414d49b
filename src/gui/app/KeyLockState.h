#pragma once

// The keyboard's lock indicators (caps, num, scroll) as the X server reports them. Without an
// X display every lock reads as off.
class KeyLockState {
  public:
    KeyLockState();
    ~KeyLockState();
    KeyLockState(const KeyLockState&) = delete;
    KeyLockState& operator=(const KeyLockState&) = delete;

    struct Locks {
        bool caps = false;
        bool num = false;
        bool scroll = false;
    };
    Locks Query() const;

  private:
    void* display_ = nullptr;
};
