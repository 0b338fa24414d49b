// Feeds arbitrary bytes to the streams of an HTTP/3 connection, both ways, in chunks the input
// chooses, and checks every head that comes out against the bounds the detector relies on.
// Both sides' control streams (with a QPACK table allowed) and encoder streams are opened
// first, so inputs start at frames and encoder instructions.
#include <cstdint>
#include <span>
#include <string_view>

#include "HttpHeadChecks.h"
#include "core/http/Http3Connection.h"

namespace {

// The streams a chunk may go to: requests and their answers, the two control and encoder
// streams, and unidirectional streams whose type is still to come.
constexpr std::uint64_t kStreams[16] = {0, 4, 8, 12, 2, 3, 6, 7, 10, 11, 14, 15, 1, 5, 18, 19};

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void openStreams(Http3Connection& connection, HttpMessageSink& sink) {
    // Control: type 0, then SETTINGS with QPACK_MAX_TABLE_CAPACITY 4096 and BLOCKED_STREAMS 16.
    static constexpr std::string_view kControl{"\x00\x04\x05\x01\x50\x00\x07\x10", 8};
    static constexpr std::string_view kEncoder{"\x02", 1};
    connection.feed(2, true, bytesOf(kControl), false, sink);
    connection.feed(3, false, bytesOf(kControl), false, sink);
    connection.feed(6, true, bytesOf(kEncoder), false, sink);
    connection.feed(7, false, bytesOf(kEncoder), false, sink);
}

}  // namespace

// Each chunk: a control byte (low four bits: the stream; 0x10: from the server; 0x20: the
// direction ends with the chunk; 0x40: it is reset instead), a length byte, then the bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Http3Connection connection;
    fuzz_http::CheckingSink sink;
    openStreams(connection, sink);
    std::span<const std::uint8_t> input(data, size);
    while (input.size() >= 2) {
        const std::uint8_t control = input[0];
        const std::size_t length = std::min<std::size_t>(input[1], input.size() - 2);
        const std::uint64_t stream = kStreams[control & 0x0F];
        const bool fromClient = (control & 0x10) == 0;
        if ((control & 0x40) != 0) {
            connection.abort(stream, fromClient);
        } else {
            connection.feed(stream, fromClient, input.subspan(2, length), (control & 0x20) != 0,
                            sink);
        }
        input = input.subspan(2 + length);
    }
    fuzz_http::check(connection.failed() == !connection.failure().empty());
    return 0;
}
