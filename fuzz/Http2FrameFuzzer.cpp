// Feeds arbitrary frames to an HTTP/2 connection, both ways, in chunks the input chooses,
// and checks every head that comes out against the bounds the detector relies on. The
// client's preface is given first, so inputs start at the frames.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/http/Http2Connection.h"
#include "core/http/HttpFieldText.h"
#include "core/http/HttpTextLimits.h"

namespace {

void check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

void checkText(const std::string& text, std::size_t limit) {
    check(text.size() <= limit && !HttpFieldText::hasControlBytes(text));
}

class CheckingSink : public HttpMessageSink {
  public:
    void onRequest(const HttpRequestHead& request) override {
        check(request.index == requests_++ && !request.method.empty() && request.stream != 0);
        checkText(request.method, HttpTextLimits::kMethod);
        checkText(request.scheme, HttpTextLimits::kScheme);
        checkText(request.authority, HttpTextLimits::kAuthority);
        checkText(request.path, HttpTextLimits::kPath);
        checkText(request.referer, HttpTextLimits::kReferer);
        checkText(request.userAgent, HttpTextLimits::kUserAgent);
        checkText(request.cookie, HttpTextLimits::kCookie);
    }
    void onResponse(const HttpResponseHead& response) override {
        check(response.requestIndex < requests_ && response.status >= 200);
        checkText(response.contentType, HttpTextLimits::kContentType);
    }

  private:
    std::uint64_t requests_ = 0;
};

}  // namespace

// Each chunk is a control byte (top bit: from the server; the rest: length - 1) and its bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr std::string_view kPreface = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";
    Http2Connection connection;
    CheckingSink sink;
    connection.feed(true, {reinterpret_cast<const std::uint8_t*>(kPreface.data()), kPreface.size()},
                    sink);
    std::span<const std::uint8_t> input(data, size);
    while (!input.empty()) {
        const bool fromClient = (input.front() & 0x80) == 0;
        const std::size_t length =
            std::min<std::size_t>((input.front() & 0x7F) + 1u, input.size() - 1);
        connection.feed(fromClient, input.subspan(1, length), sink);
        input = input.subspan(1 + length);
    }
    check(connection.failed() == !connection.failure().empty());
    return 0;
}
