#pragma once

#include <string>
#include <string_view>

// Every text a download shows the user, in one place: HTTP, MMS and the save command use the
// same templates. Each ends in one placeholder ("%d" or "%s") for a decimal code.
namespace DownloadMessages {

// The target file cannot be created (or its path is too long).
inline constexpr const char* kFileOpenFailed = "ダウンロードするファイルを開けませんでした。 (%s)";
// The download could not even be set up (no memory, no thread, no socket, no local file).
inline constexpr const char* kSetupFailed =
    "ファイルをダウンロード試行中にエラーが発生しました。Error:%d";
inline constexpr const char* kConnectFailed = "サーバに接続できませんでした。 (%d)";
// Connected, but what came back was no HTTP response at all.
inline constexpr const char* kNoResponse = "サーバーから有効な応答を受け取りませんでした。(%d)";
// An HTTP status other than 200, or a login that was refused; the code is the status.
inline constexpr const char* kBadStatus = "サーバから有効なHTTP応答が返りませんでした。(%d)";
// Reading, writing or the server's stream failed once the transfer was under way.
inline constexpr const char* kTransferFailed = "ダウンロード中にエラーが発生しました。(%d)";

// The template with its placeholder replaced by `code` in decimal.
inline std::string Fill(std::string_view messageTemplate, long code) {
    std::string text(messageTemplate);
    for (std::string_view placeholder : {"%d", "%s"}) {
        if (auto at = text.find(placeholder); at != std::string::npos) {
            return text.replace(at, placeholder.size(), std::to_string(code));
        }
    }
    return text;
}

}  // namespace DownloadMessages
