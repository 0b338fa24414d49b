#pragma once

#include <optional>
#include <string>

// A download URL split the way a detected stream's record holds it: `host` is the scheme,
// "://", server and port as written; `path` is everything after that (path and query), so that
// host followed by path is the URL again. `scheme` is the scheme in lower case.
struct DownloadUrl {
    std::string scheme;
    std::string host;
    std::string path;

    // nullopt when the text has no "scheme://server" start.
    static std::optional<DownloadUrl> Split(const std::string& url);
};
