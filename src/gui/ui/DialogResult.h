#pragma once

// How a modal dialog was left; the values are the classic OK and Cancel command ids.
enum class DialogResult : int {
    kOk = 1,
    kCancel = 2,
};
