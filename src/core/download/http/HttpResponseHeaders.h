#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the headers of the responses to one request said, taken line by line as libcurl hands
// them over (redirects and interim answers included): each status line begins a response whose
// fields replace those of the one before. Values that may be shown or sent again are kept
// without control bytes and of bounded length.
class HttpResponseHeaders {
  public:
    // A Content-Range "bytes FIRST-LAST/TOTAL".
    struct ByteRange {
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        std::uint64_t total = 0;
    };

    // A new request: its status, status line and login realm are not known yet. The other
    // fields stay those of the last response until the next status line.
    void beginRequest();
    // Takes one header line, with its line break; true when it is the blank line that ends a
    // response's headers. Lines before a status line are ignored.
    bool take(std::string_view line);

    // The last response's status code; 0 before one came or when it could not be read.
    long status() const { return status_; }
    // The last response's status line, empty before one came.
    const std::string& statusLine() const { return statusLine_; }
    // Content-Length, when it is a plain decimal number.
    std::optional<std::uint64_t> contentLength() const { return contentLength_; }
    std::optional<ByteRange> contentRange() const { return contentRange_; }
    const std::string& contentType() const { return contentType_; }
    // What an If-Range may name: the ETag when it is a strong one, else Last-Modified; empty
    // when neither came. A weak ETag does not promise the same bytes.
    std::string rangeValidator() const;
    // Retry-After in seconds, when it is a number of them; -1 otherwise.
    long retryAfterSeconds() const { return retryAfter_; }
    // The realm of the first login challenge since beginRequest, empty when none came.
    const std::string& realm() const { return realm_; }

    // `text` without the blanks around it and the line break after it.
    static std::string_view trim(std::string_view text);

  private:
    void beginResponse(std::string_view statusLine);
    void takeField(std::string_view line);

    long status_ = 0;
    bool headersOpen_ = false;
    std::string statusLine_;
    std::optional<std::uint64_t> contentLength_;
    std::optional<ByteRange> contentRange_;
    std::string contentType_;
    std::string etag_;
    std::string lastModified_;
    long retryAfter_ = -1;
    std::string realm_;
};
