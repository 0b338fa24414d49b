#include "core/download/http/HttpResponseHeaders.h"

#include <charconv>

#include "core/download/PrintableText.h"

namespace {

// A server's status line and the values kept of its headers keep this much, so that a hostile
// one cannot grow the outcome.
constexpr std::size_t kValueLimit = 160;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z') {
            a = static_cast<char>(a - 'A' + 'a');
        }
        if (a != prefix[i]) {
            return false;
        }
    }
    return true;
}

// The realm="..." of an authentication challenge, empty when there is none.
std::string RealmOf(std::string_view challenge) {
    auto at = challenge.find("realm=\"");
    if (at == std::string_view::npos) {
        return {};
    }
    challenge.remove_prefix(at + 7);
    auto end = challenge.find('"');
    return std::string(challenge.substr(0, end == std::string_view::npos ? challenge.size() : end));
}

template <typename Number>
std::optional<Number> WholeNumber(std::string_view value) {
    Number parsed = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), parsed);
    if (ec != std::errc() || end != value.data() + value.size() || value.empty()) {
        return std::nullopt;
    }
    return parsed;
}

std::optional<HttpResponseHeaders::ByteRange> ByteRangeOf(std::string_view range) {
    if (!StartsWithNoCase(range, "bytes ")) {
        return std::nullopt;
    }
    range.remove_prefix(6);
    HttpResponseHeaders::ByteRange parsed;
    const char* const end = range.data() + range.size();
    auto [afterFirst, e1] = std::from_chars(range.data(), end, parsed.first);
    if (e1 != std::errc() || afterFirst == end || *afterFirst != '-') {
        return std::nullopt;
    }
    auto [afterLast, e2] = std::from_chars(afterFirst + 1, end, parsed.last);
    if (e2 != std::errc() || afterLast == end || *afterLast != '/') {
        return std::nullopt;
    }
    auto [afterTotal, e3] = std::from_chars(afterLast + 1, end, parsed.total);
    if (e3 != std::errc() || afterTotal != end) {
        return std::nullopt;
    }
    return parsed;
}

}  // namespace

void HttpResponseHeaders::beginRequest() {
    status_ = 0;
    headersOpen_ = false;
    realm_.clear();
    statusLine_.clear();
}

bool HttpResponseHeaders::take(std::string_view line) {
    if (StartsWithNoCase(line, "http/")) {
        beginResponse(line);
        return false;
    }
    if (!headersOpen_) {
        return false;
    }
    if (trim(line).empty()) {
        headersOpen_ = false;
        return true;
    }
    takeField(line);
    return false;
}

std::string HttpResponseHeaders::rangeValidator() const {
    return !etag_.empty() && !etag_.starts_with("W/") ? etag_ : lastModified_;
}

std::string_view HttpResponseHeaders::trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// The login realm is not the response's but the request's: the first challenge names it.
void HttpResponseHeaders::beginResponse(std::string_view statusLine) {
    status_ = 0;
    headersOpen_ = true;
    contentLength_.reset();
    contentRange_.reset();
    contentType_.clear();
    etag_.clear();
    lastModified_.clear();
    retryAfter_ = -1;
    statusLine_ = PrintableText(trim(statusLine), kValueLimit);
    auto space = statusLine.find(' ');
    if (space != std::string_view::npos) {
        std::string_view code = statusLine.substr(space + 1, 3);
        std::from_chars(code.data(), code.data() + code.size(), status_);
    }
}

void HttpResponseHeaders::takeField(std::string_view line) {
    if (StartsWithNoCase(line, "content-length:")) {
        contentLength_ = WholeNumber<std::uint64_t>(trim(line.substr(15)));
    } else if (StartsWithNoCase(line, "etag:")) {
        etag_ = PrintableText(trim(line.substr(5)), kValueLimit);
    } else if (StartsWithNoCase(line, "last-modified:")) {
        lastModified_ = PrintableText(trim(line.substr(14)), kValueLimit);
    } else if (StartsWithNoCase(line, "content-type:")) {
        contentType_ = PrintableText(trim(line.substr(13)), kValueLimit);
    } else if (StartsWithNoCase(line, "content-range:")) {
        contentRange_ = ByteRangeOf(trim(line.substr(14)));
    } else if (StartsWithNoCase(line, "retry-after:")) {
        const std::optional<long> seconds = WholeNumber<long>(trim(line.substr(12)));
        retryAfter_ = seconds && *seconds >= 0 ? *seconds : -1;
    } else if (StartsWithNoCase(line, "www-authenticate:") ||
               StartsWithNoCase(line, "proxy-authenticate:")) {
        if (realm_.empty()) {
            realm_ = RealmOf(line);
        }
    }
}
