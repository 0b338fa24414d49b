#include "core/http/Http1BodyFraming.h"

#include "core/http/HttpFieldText.h"

bool Http1BodyFraming::take(std::string_view name, std::string_view value) {
    if (HttpFieldText::equalsIgnoringCase(name, "content-length")) {
        takeLength(value);
        return true;
    }
    if (HttpFieldText::equalsIgnoringCase(name, "transfer-encoding")) {
        transferEncoding_ = true;
        const std::size_t comma = value.rfind(',');
        const std::string_view last =
            comma == std::string_view::npos ? value : value.substr(comma + 1);
        chunked_ = HttpFieldText::equalsIgnoringCase(HttpFieldText::trim(last), "chunked");
        return true;
    }
    return false;
}

// "5" and the repeated "5, 5" some proxies make are one length; anything else is not.
void Http1BodyFraming::takeLength(std::string_view value) {
    while (!contradictory_) {
        const std::size_t comma = value.find(',');
        const auto number = HttpFieldText::decimal(HttpFieldText::trim(value.substr(0, comma)));
        if (!number || (length_ && *length_ != *number)) {
            contradictory_ = true;
            return;
        }
        length_ = number;
        if (comma == std::string_view::npos) {
            return;
        }
        value.remove_prefix(comma + 1);
    }
}
