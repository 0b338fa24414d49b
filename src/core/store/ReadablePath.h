#pragma once

#include <string>
#include <string_view>

// A URL path as a person reads it: percent-escapes decoded ("%E6%97%A5%E6%9C%AC" is shown as
// "日本"). Decoded bytes that are no valid UTF-8, and characters that would act on the text
// around them (control characters, bidirectional and zero-width marks), keep their escape as
// captured; such raw bytes of the path get one ("%1B"). So the result is valid UTF-8 and
// never carries a control byte to a screen. For showing and finding only: the URL that is
// copied or fetched stays the captured one.
class ReadablePath {
  public:
    static std::string of(std::string_view path);
    // Whether of(path) can differ from the path: it holds an escape or a byte that needs one.
    static bool changes(std::string_view path);
};
