#include "core/download/record/PlaylistProbe.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

#include "core/download/PrintableText.h"

namespace {

struct Fetch {
    const PlaylistProbe::Request* request = nullptr;
    std::string body;
    std::string contentType;
    bool tooLarge = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto& fetch = *static_cast<Fetch*>(context);
    std::size_t length = size * count;
    if (length > PlaylistProbe::kTextLimit - fetch.body.size()) {
        fetch.tooLarge = true;
        return 0;
    }
    // Grown by hand: the string's own doubling would pass the bound.
    const std::size_t needed = fetch.body.size() + length;
    if (needed > fetch.body.capacity()) {
        fetch.body.reserve(
            std::min(std::max(needed, fetch.body.capacity() * 2), PlaylistProbe::kTextLimit));
    }
    fetch.body.append(data, length);
    return length;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* context) {
    auto& fetch = *static_cast<Fetch*>(context);
    std::string_view line(data, size * count);
    if (line.size() > 13 && strncasecmp(line.data(), "content-type:", 13) == 0) {
        std::string_view value = line.substr(13);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) {
            value.remove_suffix(1);
        }
        fetch.contentType = PrintableText(value, 200);
    }
    return size * count;
}

int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& request = *static_cast<Fetch*>(context)->request;
    return request.stop != nullptr && request.stop(request.stopContext) ? 1 : 0;
}

// Fetches one text; fills the result's code, status and detail.
Fetch FetchText(const PlaylistProbe::Request& request, const std::string& url,
                PlaylistProbe::Result& result) {
    Fetch fetch;
    fetch.request = &request;
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
        result.curlCode = CURLE_OUT_OF_MEMORY;
        result.detail = "curl_easy_init failed";
        return fetch;
    }
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 20L);
    curl_easy_setopt(easy, CURLOPT_TIMEOUT, request.timeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &fetch);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &fetch);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &fetch);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    if (!request.userAgent.empty()) {
        curl_easy_setopt(easy, CURLOPT_USERAGENT, request.userAgent.c_str());
    }
    if (!request.referer.empty()) {
        curl_easy_setopt(easy, CURLOPT_REFERER, request.referer.c_str());
    }
    if (!request.caFile.empty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, request.caFile.c_str());
    }
    CURLcode code = curl_easy_perform(easy);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &result.status);
    result.curlCode = fetch.tooLarge ? 0 : code;
    result.tooLarge = fetch.tooLarge;
    if (code != CURLE_OK && !fetch.tooLarge) {
        result.detail = PrintableText(error[0] != '\0' ? error : curl_easy_strerror(code), 300);
    } else if (result.status != 200) {
        result.detail = "HTTP status " + std::to_string(result.status);
    }
    curl_easy_cleanup(easy);
    return fetch;
}

// `reference` resolved against `base`, as a browser would; empty when it cannot be.
std::string Resolve(const std::string& base, const std::string& reference) {
    CURLU* handle = curl_url();
    std::string resolved;
    char* text = nullptr;
    if (handle != nullptr && curl_url_set(handle, CURLUPART_URL, base.c_str(), 0) == CURLUE_OK &&
        curl_url_set(handle, CURLUPART_URL, reference.c_str(), CURLU_URLENCODE) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_URL, &text, 0) == CURLUE_OK) {
        resolved = text;
    }
    curl_free(text);
    curl_url_cleanup(handle);
    return resolved;
}

bool Fetched(const PlaylistProbe::Result& result) {
    return result.curlCode == 0 && result.status == 200 && !result.tooLarge;
}

}  // namespace

PlaylistProbe::Result PlaylistProbe::Run(const Request& request, RecordKind kind) {
    Result result;
    Fetch fetch = FetchText(request, request.url, result);
    if (!Fetched(result)) {
        return result;
    }
    RecordKind typed = RecordKinds::OfContentType(fetch.contentType);
    result.kind = kind != RecordKind::kNone ? kind : typed;
    result.facts = PlaylistFacts::Read(result.kind, fetch.body);
    result.mediaUrl = request.url;
    if (!result.facts.isPlaylist || !result.facts.isMaster || result.facts.bestVariant.empty()) {
        return result;
    }
    // The variant's own playlist says whether the stream ends and how its segments are keyed.
    std::string variantUrl = Resolve(request.url, result.facts.bestVariant);
    if (variantUrl.empty()) {
        return result;
    }
    Result variant;
    Fetch media = FetchText(request, variantUrl, variant);
    if (!Fetched(variant)) {
        result.curlCode = variant.curlCode;
        result.status = variant.status;
        result.detail = variant.detail;
        result.tooLarge = variant.tooLarge;
        result.facts = PlaylistFacts{};
        return result;
    }
    PlaylistFacts facts = PlaylistFacts::Read(RecordKind::kHls, media.body);
    result.facts.live = facts.live;
    result.facts.isProtected = result.facts.isProtected || facts.isProtected;
    result.mediaUrl = variantUrl;
    return result;
}

bool PlaylistProbe::LooksLive(const std::string& url, RecordKind kind, long timeoutSeconds) {
    if (kind == RecordKind::kRtsp) {
        return true;
    }
    Request request;
    request.url = url;
    request.timeoutSeconds = timeoutSeconds;
    Result result = Run(request, kind);
    return !Fetched(result) || !result.facts.isPlaylist || result.facts.live;
}
