#include "core/session/FollowedRequests.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "core/http/MediaContentType.h"

namespace {

// A request of any HTTP version written as HTTP/1.1 text, the form the decoder reads.
void writeRequestText(const HttpRequestHead& request, std::string_view serverName,
                      std::string& out) {
    out.clear();
    out.append(request.method.empty() ? "GET" : request.method).append(" ");
    out.append(request.path).append(" HTTP/1.1\r\n");
    // A request of HTTP/1.0 may lack a Host header; the server name of the handshake is the
    // host the client asked for.
    out.append("Host: ").append(request.authority.empty() ? serverName : request.authority);
    out.append("\r\n");
    const std::pair<std::string_view, const std::string*> context[] = {
        {"Referer", &request.referer},
        {"User-Agent", &request.userAgent},
        {"Cookie", &request.cookie}};
    for (const auto& [name, value] : context) {
        if (!value->empty()) {
            out.append(name).append(": ").append(*value).append("\r\n");
        }
    }
    out.append("\r\n");
}

}  // namespace

void FollowedRequests::onRequest(const HttpRequestHead& request,
                                 std::span<const std::uint8_t> headers,
                                 const Connection& connection) {
    headers = headers.first(std::min(headers.size(), kHeadersKept));
    writeRequestText(request, connection.serverName, room_.text);
    if (report(room_.text, headers, nullptr, connection)) {
        return;
    }
    // Its answer may still name media: kept for it, a bounded few at a time.
    if (unanswered_.size() == kUnansweredKept) {
        unanswered_.pop_front();
    }
    Unanswered& kept = unanswered_.emplace_back();
    kept.index = request.index;
    kept.text = room_.text;
    std::copy(headers.begin(), headers.end(), kept.headers.begin());
    kept.headersLength = headers.size();
}

// A request no suffix named becomes a row when its answer's Content-Type names media.
void FollowedRequests::onResponse(const HttpResponseHead& response, const Connection& connection) {
    auto asked = std::find_if(unanswered_.begin(), unanswered_.end(), [&](const Unanswered& u) {
        return u.index == response.requestIndex;
    });
    if (asked == unanswered_.end()) {
        return;
    }
    const std::optional<MediaContentType> media = MediaContentType::of(response.contentType);
    if (media && response.status >= 200 && response.status < 300) {
        const StreamDecoder::MediaKind kind{media->suffix, media->typeName};
        report(asked->text, std::span(asked->headers.data(), asked->headersLength), &kind,
               connection);
    }
    unanswered_.erase(asked);
}

// Lists the request when the decoder takes it; false when it does not.
bool FollowedRequests::report(std::string_view text, std::span<const std::uint8_t> headers,
                              const StreamDecoder::MediaKind* given, const Connection& connection) {
    StreamFields fields;
    if (room_.decoder.decodeFollowedRequest(
            headers.data(), static_cast<std::uint32_t>(headers.size()), text,
            StreamDecoder::Layer::kTls, room_.head, fields, given) != 0) {
        return false;
    }
    fields.httpVersion = connection.httpVersion;
    fields.serverName = printableServerName(connection.serverName);
    room_.found(fields);
    return true;
}

// The hello's server name as a row may show it: a host name of printable ASCII that fits.
std::string_view FollowedRequests::printableServerName(std::string_view name) {
    const bool printable =
        std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7F; });
    return printable && name.size() < DetectedStream::kServerNameCapacity ? name
                                                                          : std::string_view{};
}
