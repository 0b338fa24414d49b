#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct AVFormatContext;

// The one door through which the media library opens anything for a recording: every URL the
// demuxer asks for (playlist, reload, segment, key, fragment) comes through AVFormatContext's
// io_open. Only http and https pass (an AES-128 segment as "crypto+" either of them), always
// with the certificate checked against the trusted authorities, the request's own headers,
// a stall timeout and no reused connection. A text that looks like a playlist (its first byte
// after spaces is '#' or '<') may be no larger than the probe allowed; one that grows past
// that ends the recording (exceeded()). One recording per process: the gate is process-wide.
class InputGate {
  public:
    struct Settings {
        std::string userAgent;
        std::string referer;
        std::string caFile;  // empty: the system's authorities
        std::string proxy;   // empty: none
        std::int64_t stallMicros = 0;
    };

    static constexpr std::size_t kPlaylistLimit = 4 * 1024 * 1024;
    static constexpr const char* kSystemAuthorities = "/etc/ssl/certs/ca-certificates.crt";

    static void configure(Settings settings);
    // Routes `input`'s opens and closes through the gate; before avformat_open_input.
    static void guard(AVFormatContext* input);

    // Whether a URL may be opened at all.
    static bool allows(std::string_view url);
    // True once a playlist's text went past kPlaylistLimit.
    static bool exceeded();
};
