#include "core/download/StreamCommand.h"

#include <cstring>

#include "core/detect/DetectedStream.h"
#include "core/download/ShellQuote.h"

namespace {

std::string_view fieldText(const char* field, std::size_t capacity) {
    return std::string_view(field, ::strnlen(field, capacity));
}

bool printableAscii(unsigned char byte) {
    return byte > 0x20 && byte < 0x7F;
}

// A header value written as it is, tabs as spaces (the same to HTTP); empty when a byte
// cannot be printed safely.
std::string plainHeaderValue(std::string_view value) {
    std::string plain;
    for (char c : value) {
        auto byte = static_cast<unsigned char>(c);
        if (byte == '\t' || byte == ' ') {
            plain += ' ';
        } else if (printableAscii(byte)) {
            plain += c;
        } else {
            return {};
        }
    }
    return plain;
}

bool safeNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

struct Context {
    std::string url;
    std::string referer;
    std::string userAgent;
    std::string cookie;
};

Context contextOf(const DetectedStream& s) {
    std::string url(fieldText(s.host, sizeof s.host));
    url += fieldText(s.path, sizeof s.path);
    url += fieldText(s.query, sizeof s.query);
    return {StreamCommand::encodedUrl(url),
            StreamCommand::encodedUrl(fieldText(s.referer, sizeof s.referer)),
            plainHeaderValue(fieldText(s.userAgent, sizeof s.userAgent)),
            plainHeaderValue(fieldText(s.cookie, sizeof s.cookie))};
}

// curl reads a --cookie without '=' as the name of a cookie file to load.
bool cookiePairs(const std::string& cookie) {
    return cookie.find('=') != std::string::npos;
}

std::vector<std::string> curlWords(const Context& c) {
    const bool cookie = cookiePairs(c.cookie);
    // Braces and brackets in a URL are the URL's own, not a list of URLs to fetch.
    std::vector<std::string> words{"curl", "--globoff"};
    // Told to follow redirects only without a cookie: the tool would send a cookie given
    // this way on to whichever host a redirect names.
    if (!cookie) {
        words.emplace_back("--location");
    }
    if (!c.referer.empty()) {
        words.insert(words.end(), {"--referer", c.referer});
    }
    if (!c.userAgent.empty()) {
        words.insert(words.end(), {"--user-agent", c.userAgent});
    }
    if (cookie) {
        words.insert(words.end(), {"--cookie", c.cookie});
    }
    // --url takes the next word as the URL even when it starts with '-'.
    words.insert(words.end(), {"--remote-name", "--url", c.url});
    return words;
}

// No cookie: ffmpeg would send its headers on to any host a redirect or playlist names.
std::vector<std::string> ffmpegWords(const Context& c, std::string_view path) {
    std::vector<std::string> words{"ffmpeg"};
    if (!c.referer.empty()) {
        words.insert(words.end(), {"-referer", c.referer});
    }
    if (!c.userAgent.empty()) {
        words.insert(words.end(), {"-user_agent", c.userAgent});
    }
    // -i takes the next word as the input whatever it starts with.
    words.insert(words.end(), {"-i", c.url, "-c", "copy", StreamCommand::outputName(path)});
    return words;
}

// No cookie: yt-dlp would send an added header on to any host a redirect or playlist names.
std::vector<std::string> ytDlpWords(const Context& c) {
    std::vector<std::string> words{"yt-dlp"};
    if (!c.referer.empty()) {
        words.insert(words.end(), {"--referer", c.referer});
    }
    if (!c.userAgent.empty()) {
        words.insert(words.end(), {"--user-agent", c.userAgent});
    }
    // After "--" no word is an option.
    words.insert(words.end(), {"--", c.url});
    return words;
}

}  // namespace

std::optional<StreamCommand::Tool> StreamCommand::toolNamed(std::string_view name) {
    if (name == "curl") {
        return Tool::Curl;
    }
    if (name == "ffmpeg") {
        return Tool::Ffmpeg;
    }
    if (name == "yt-dlp") {
        return Tool::YtDlp;
    }
    return std::nullopt;
}

std::string StreamCommand::encodedUrl(std::string_view url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(url.size());
    for (char c : url) {
        auto byte = static_cast<unsigned char>(c);
        if (printableAscii(byte)) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0F];
        }
    }
    return encoded;
}

std::string StreamCommand::outputName(std::string_view path) {
    std::size_t slash = path.rfind('/');
    std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    std::string name;
    for (char c : last) {
        if (safeNameByte(c)) {
            name += c;
        }
    }
    std::size_t start = name.find_first_not_of(".-");
    return start == std::string::npos ? std::string("stream") : name.substr(start);
}

std::vector<std::string> StreamCommand::words(const DetectedStream& stream, Tool tool) {
    Context context = contextOf(stream);
    switch (tool) {
        case Tool::Curl:
            return curlWords(context);
        case Tool::Ffmpeg:
            return ffmpegWords(context, fieldText(stream.path, sizeof stream.path));
        case Tool::YtDlp:
            break;
    }
    return ytDlpWords(context);
}

std::string StreamCommand::shellLine(const DetectedStream& stream, Tool tool) {
    return ShellQuote::line(words(stream, tool));
}
