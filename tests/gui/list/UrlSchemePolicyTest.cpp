#include "gui/list/UrlSchemePolicy.h"

#include <gtest/gtest.h>

namespace {
TEST(UrlSchemePolicy, OnlyWebAndStreamSchemesOpen) {
    struct Case {
        const char* url;
        bool allowed;
    };
    const Case cases[] = {
        {"http://h/a.wmv", true},
        {"HTTPS://h/a", true},
        {"mms://h/a.asf", true},
        {"mmst://h/a", true},
        {"mmsu://h/a", true},
        {"rtsp://h/a.rm", true},
        {"file:///etc/passwd", false},
        {"javascript://x", false},
        {"smb://h/share", false},
        {"http:/h", false},
        {"", false},
        {"://h/a", false},
        {"xhttp://h/a", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UrlSchemePolicy::mayOpenInBrowser(c.url), c.allowed) << c.url;
    }
}
}  // namespace
