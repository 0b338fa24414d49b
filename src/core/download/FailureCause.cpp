#include "core/download/FailureCause.h"

#include <curl/curl.h>

#include <cerrno>

namespace FailureCauses {

FailureCause OfCurlCode(int curlCode, long osErrno) {
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_COULDNT_CONNECT: {
            // libcurl's one code for a refusal, an unreachable host and a connect that timed
            // out; the socket's errno tells them apart.
            const FailureCause byErrno = OfErrno(static_cast<int>(osErrno));
            return byErrno == FailureCause::kConnectionRefused ||
                           byErrno == FailureCause::kUnreachable ||
                           byErrno == FailureCause::kTimedOut
                       ? byErrno
                       : FailureCause::kUnknown;
        }
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return FailureCause::kNameNotResolved;
        case CURLE_OPERATION_TIMEDOUT:
            return FailureCause::kTimedOut;
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return FailureCause::kTransferCut;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_GOT_NOTHING:
        case CURLE_BAD_CONTENT_ENCODING:
            return FailureCause::kBadReply;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CLIENTCERT:
            return FailureCause::kTls;
        case CURLE_LOGIN_DENIED:
            return FailureCause::kAccessDenied;
        case CURLE_TOO_MANY_REDIRECTS:
            return FailureCause::kTooManyRedirects;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return FailureCause::kBadUrl;
        case CURLE_WRITE_ERROR:
            return FailureCause::kCannotWrite;
        default:
            return FailureCause::kUnknown;
    }
}

FailureCause OfErrno(int code) {
    switch (code) {
        case ECONNREFUSED:
            return FailureCause::kConnectionRefused;
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
        case EHOSTDOWN:
            return FailureCause::kUnreachable;
        case ETIMEDOUT:
            return FailureCause::kTimedOut;
        case ECONNRESET:
        case ECONNABORTED:
        case EPIPE:
            return FailureCause::kTransferCut;
        case EPROTO:
        case EBADMSG:
            return FailureCause::kBadReply;
        case ENOSPC:
        case EDQUOT:
            return FailureCause::kDiskFull;
        case EACCES:
        case EPERM:
        case EROFS:
        case ENOENT:
        case ENOTDIR:
        case EISDIR:
        case ENAMETOOLONG:
        case EFBIG:
            return FailureCause::kCannotWrite;
        default:
            return FailureCause::kUnknown;
    }
}

FailureCause OfHttpStatus(long status) {
    if (status == 404 || status == 410) {
        return FailureCause::kNotFound;
    }
    if (status == 401 || status == 403 || status == 407) {
        return FailureCause::kAccessDenied;
    }
    if (status >= 500 && status <= 599) {
        return FailureCause::kServerError;
    }
    return FailureCause::kHttpStatus;
}

}  // namespace FailureCauses
