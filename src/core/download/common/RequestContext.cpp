#include "core/download/common/RequestContext.h"

#include <cstring>
#include <string_view>

#include "core/detect/DetectedStream.h"
#include "core/download/http/HttpDownloadOptions.h"
#include "core/http/HeaderValueCheck.h"

namespace {

template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, ::strnlen(field, N));
}

}  // namespace

RequestContext RequestContext::of(const DetectedStream& record,
                                  const HttpDownloadOptions& options) {
    const bool context = options.sendRequestContext;
    RequestContext taken;
    taken.referer = options.refererOverride.value_or(context ? FieldText(record.referer) : "");
    taken.userAgent =
        options.userAgentOverride.value_or(context ? FieldText(record.userAgent) : "");
    if (!options.userAgentOverride && taken.userAgent.empty()) {
        taken.userAgent = options.userAgent;
    }
    taken.cookie =
        options.cookieOverride.value_or(options.sendCapturedCookie ? FieldText(record.cookie) : "");
    return taken;
}

bool RequestContext::sendable() const {
    return HeaderValueCheck::sendable(referer) && HeaderValueCheck::sendable(userAgent) &&
           HeaderValueCheck::sendable(cookie);
}
