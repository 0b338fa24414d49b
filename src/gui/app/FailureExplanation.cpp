#include "gui/app/FailureExplanation.h"

QString FailureExplanation::of(FailureCause cause) {
    switch (cause) {
        case FailureCause::kUnknown:
            return {};
        case FailureCause::kConnectionRefused:
            return QStringLiteral("サーバが接続を拒否しました。");
        case FailureCause::kUnreachable:
            return QStringLiteral("ネットワークの問題でサーバに到達できませんでした。");
        case FailureCause::kNameNotResolved:
            return QStringLiteral("サーバの名前からアドレスを見つけられませんでした。");
        case FailureCause::kTimedOut:
            return QStringLiteral("サーバからの応答がないまま時間切れになりました。");
        case FailureCause::kTransferCut:
            return QStringLiteral("転送の途中でサーバとの接続が切れました。");
        case FailureCause::kBadReply:
            return QStringLiteral("サーバから正しい形の応答が返りませんでした。");
        case FailureCause::kTls:
            return QStringLiteral("サーバとの暗号化通信（TLS）を確立できませんでした。");
        case FailureCause::kNotFound:
            return QStringLiteral("ファイルがサーバに見つかりませんでした。");
        case FailureCause::kAccessDenied:
            return QStringLiteral("サーバにアクセスを拒否されました。");
        case FailureCause::kServerError:
            return QStringLiteral("サーバ側でエラーが起きました。");
        case FailureCause::kHttpStatus:
            return QStringLiteral("サーバがファイルの代わりにエラーを返しました。");
        case FailureCause::kTooManyRedirects:
            return QStringLiteral("転送先の指定（リダイレクト）が多すぎました。");
        case FailureCause::kBadUrl:
            return QStringLiteral("この URL はダウンロードできない形式です。");
        case FailureCause::kDiskFull:
            return QStringLiteral("保存先のディスクに空きがありません。");
        case FailureCause::kCannotWrite:
            return QStringLiteral("保存先にファイルを書き込めませんでした。");
    }
    return {};
}
