#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>

// How far one download is, as numbers: the worker's own value, handed to its row through the
// host and kept by the store under its lock. The four column texts are made from it where
// they are shown (TransferText); nothing reads amounts back out of texts.
struct TransferProgress {
    // What the progress column says.
    enum class Stage : std::uint8_t {
        kNone,        // nothing: never downloaded, or a start undone
        kConnecting,  // "接続中..."
        kWaiting,     // waiting its turn: "待機中"
        kPercent,     // `percent` of the whole: "37%"
        kRecorded,    // a live recording: its `mediaSeconds` so far, "2分 5秒"
        kRetrying,    // before try `tryNumber` of `tryCount`: "再試行 2/5"
        kPaused,      // "一時停止中"
        kComplete,    // "完了"
        kCancelled,   // "Cancel"
        kFailed,      // "失敗"
    };

    Stage stage = Stage::kNone;
    std::int32_t percent = 0;
    std::int32_t tryNumber = 0;
    std::int32_t tryCount = 0;
    // The size column: a download's total length, or the bytes a recording has written.
    std::optional<std::uint64_t> size;
    std::optional<std::uint32_t> secondsLeft;
    // Bytes per millisecond over the last sample (a live recording: since its start).
    std::optional<double> rate;

    // Beside what the columns show.
    std::uint64_t bytesDone = 0;
    std::optional<std::uint64_t> total;
    std::uint32_t elapsedSeconds = 0;
    std::uint32_t mediaSeconds = 0;  // of a recording, the media time in its file

    // What the row shows once nothing is transferred any more: the size stays.
    void endTransfer() {
        secondsLeft.reset();
        rate.reset();
    }
    // A failure leaves no file: nothing the row showed of its transfer stays true.
    void forgetTransfer() {
        size.reset();
        endTransfer();
    }
};

static_assert(std::is_trivially_copyable_v<TransferProgress>);
