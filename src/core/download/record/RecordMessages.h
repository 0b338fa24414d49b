#pragma once

// The texts a recording shows besides those every download shares (DownloadMessages); each
// ends in one placeholder for a decimal code, as those do.
namespace RecordMessages {

// What came back is no HLS playlist or DASH manifest, or holds no video or audio.
inline constexpr const char* kNotPlaylist = "プレイリストとして読めませんでした。(%d)";
// Encrypted for a DRM system: not tried.
inline constexpr const char* kProtected =
    "このストリームは保護されている(DRM)ため録画できません。(%d)";
// A segment could not be fetched; the recording would have a gap.
inline constexpr const char* kSegmentFailed = "セグメントを取得できませんでした。(%d)";
// A live stream sent nothing for the stall time; what was recorded is kept.
inline constexpr const char* kStalled = "ストリームが途絶えたため録画を終了しました。(%d)";
// The RTSP server ended the session; what was recorded is kept.
inline constexpr const char* kServerClosed =
    "サーバがストリームを終了したため録画を終了しました。(%d)";
// The chosen container cannot hold the stream's codecs.
inline constexpr const char* kCannotContain =
    "選んだファイル形式ではこのストリームを保存できません。(%d)";
// The playlist is larger than any this program records (or grew past that while recorded).
inline constexpr const char* kTooLarge = "プレイリストが大きすぎるため録画できません。(%d)";
// The recorder program crashed, hung or could not run; nothing was kept.
inline constexpr const char* kRecorderFailed = "録画処理が異常終了しました。(%d)";

}  // namespace RecordMessages
