#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/download/record/PlaylistFacts.h"

// A playlist's text from the network, read as HLS and as DASH.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    PlaylistFacts::Read(RecordKind::kHls, text);
    PlaylistFacts::Read(RecordKind::kDash, text);
    PlaylistFacts::IsDrmKeyLine(text);
    return 0;
}
