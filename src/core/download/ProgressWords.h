#pragma once

// The words of a download's progress column besides its amounts (see TransferText).
namespace ProgressWords {
inline constexpr const char* kConnecting = "接続中...";
inline constexpr const char* kComplete = "完了";
inline constexpr const char* kCancel = "Cancel";
// After a failure that came before any progress: the row must not keep claiming to connect.
inline constexpr const char* kFailed = "失敗";
// Before another try of a broken transfer, followed by " N/M".
inline constexpr const char* kRetry = "再試行";
// Asked for, while as many downloads as allowed run.
inline constexpr const char* kWaiting = "待機中";
// Stopped by the user with its part kept, until it is resumed.
inline constexpr const char* kPaused = "一時停止中";
}  // namespace ProgressWords
