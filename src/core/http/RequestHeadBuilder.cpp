#include "core/http/RequestHeadBuilder.h"

#include "core/http/HttpFieldText.h"
#include "core/http/HttpTextLimits.h"

void RequestHeadBuilder::start(std::uint64_t stream) {
    head_.stream = stream;
    head_.index = 0;
    head_.method.clear();
    head_.scheme.clear();
    head_.authority.clear();
    head_.path.clear();
    head_.referer.clear();
    head_.userAgent.clear();
    head_.cookie.clear();
    authorityGiven_ = false;
    methodBad_ = false;
    authorityBad_ = false;
    pathBad_ = false;
    cookieBad_ = false;
}

void RequestHeadBuilder::setMethod(std::string_view value) {
    methodBad_ = !HttpFieldText::keep(head_.method, value, HttpTextLimits::kMethod);
}

void RequestHeadBuilder::setScheme(std::string_view value) {
    HttpFieldText::keepLowerCase(head_.scheme, value, HttpTextLimits::kScheme);
}

void RequestHeadBuilder::setAuthority(std::string_view value) {
    authorityGiven_ = true;
    assignAuthority(value);
}

void RequestHeadBuilder::setHost(std::string_view value) {
    if (!authorityGiven_) {
        assignAuthority(value);
    }
}

void RequestHeadBuilder::assignAuthority(std::string_view value) {
    authorityBad_ = !HttpFieldText::keep(head_.authority, value, HttpTextLimits::kAuthority);
}

void RequestHeadBuilder::setPath(std::string_view value) {
    pathBad_ = !HttpFieldText::keep(head_.path, value, HttpTextLimits::kPath);
}

void RequestHeadBuilder::setReferer(std::string_view value) {
    HttpFieldText::keep(head_.referer, value, HttpTextLimits::kReferer);
}

void RequestHeadBuilder::setUserAgent(std::string_view value) {
    HttpFieldText::keep(head_.userAgent, value, HttpTextLimits::kUserAgent);
}

void RequestHeadBuilder::addCookie(std::string_view crumb) {
    if (cookieBad_ || crumb.empty()) {
        return;
    }
    const std::size_t separator = head_.cookie.empty() ? 0 : 2;
    if (head_.cookie.size() + separator + crumb.size() > HttpTextLimits::kCookie ||
        HttpFieldText::hasControlBytes(crumb)) {
        // Half a cookie would be worse than none: a download would send it as if whole.
        head_.cookie.clear();
        cookieBad_ = true;
        return;
    }
    if (separator != 0) {
        head_.cookie += "; ";
    }
    head_.cookie += crumb;
}

void RequestHeadBuilder::takeHttp2Field(std::string_view name, std::string_view value) {
    if (name == ":method") {
        setMethod(value);
    } else if (name == ":scheme") {
        setScheme(value);
    } else if (name == ":authority") {
        setAuthority(value);
    } else if (name == ":path") {
        setPath(value);
    } else if (name == "host") {
        setHost(value);
    } else if (name == "referer") {
        setReferer(value);
    } else if (name == "user-agent") {
        setUserAgent(value);
    } else if (name == "cookie") {
        addCookie(value);
    }
}

const HttpRequestHead* RequestHeadBuilder::finish(std::uint64_t index) {
    if (methodBad_ || authorityBad_ || pathBad_ || head_.method.empty()) {
        return nullptr;
    }
    if (head_.path.empty() && head_.method != "CONNECT") {
        return nullptr;
    }
    head_.index = index;
    return &head_;
}
