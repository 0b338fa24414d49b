// Feeds arbitrary frames to an HTTP/2 connection, both ways, in chunks the input chooses,
// and checks every head that comes out against the bounds the detector relies on. The
// client's preface is given first, so inputs start at the frames.
#include <cstdint>
#include <string_view>

#include "HttpHeadChecks.h"
#include "core/http/Http2Connection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static constexpr std::string_view kPreface = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";
    Http2Connection connection;
    fuzz_http::CheckingSink sink;
    connection.feed(true, {reinterpret_cast<const std::uint8_t*>(kPreface.data()), kPreface.size()},
                    sink);
    fuzz_http::feedChunks(connection, {data, size}, sink);
    return 0;
}
