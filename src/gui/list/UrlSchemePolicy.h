#pragma once

#include <string_view>

// Decides which URLs cut out of traffic may be handed to the desktop to open: only web and
// streaming schemes, never file: or anything a handler could run.
class UrlSchemePolicy {
  public:
    // True when the URL starts with http, https, mms, mmst, mmsu or rtsp (any case) and "://".
    static bool mayOpenInBrowser(std::string_view url);
};
