// Feeds arbitrary bytes to an HTTP/1.x connection, both ways, in chunks the input chooses,
// and checks every head that comes out against the bounds the detector relies on.
#include <cstdint>

#include "HttpHeadChecks.h"
#include "core/http/Http1Connection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Http1Connection connection;
    fuzz_http::CheckingSink sink;
    fuzz_http::feedChunks(connection, {data, size}, sink);
    return 0;
}
