#include "core/store/StreamJsonLine.h"

#include <arpa/inet.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/store/JsonString.h"
#include "core/store/StreamRecordFields.h"
#include "core/store/Utf8Sequence.h"

namespace {

template <std::size_t N>
char* writeLiteral(char* out, const char (&text)[N]) {
    std::memcpy(out, text, N - 1);
    return out + N - 1;
}

// "00" to "99", two chars each.
constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (unsigned value = 0; value < 100; ++value) {
        pairs[2 * value] = static_cast<char>('0' + value / 10);
        pairs[2 * value + 1] = static_cast<char>('0' + value % 10);
    }
    return pairs;
}();

// Writes the decimal digits of `value` backwards, two at a time, ending just before `end`;
// returns the start.
char* digitsBefore(char* end, unsigned value) {
    while (value >= 100) {
        end -= 2;
        std::memcpy(end, &kDigitPairs[2 * (value % 100)], 2);
        value /= 100;
    }
    if (value >= 10) {
        end -= 2;
        std::memcpy(end, &kDigitPairs[2 * value], 2);
    } else {
        *--end = static_cast<char>('0' + value);
    }
    return end;
}

char* writeNumber(char* out, unsigned value) {
    char buffer[10];
    char* end = buffer + sizeof buffer;
    char* begin = digitsBefore(end, value);
    std::size_t size = static_cast<std::size_t>(end - begin);
    std::memcpy(out, begin, size);
    return out + size;
}

// The IPv6 address in its shortest text (RFC 5952), in quotes.
char* writeAddress6(char* out, const std::uint8_t* address) {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, address, text, sizeof text);
    std::size_t size = strnlen(text, sizeof text);
    *out++ = '"';
    std::memcpy(out, text, size);
    out += size;
    *out++ = '"';
    return out;
}

// The decimal text of every octet, each in four bytes: its digits, then its digit count.
constexpr auto kOctetTexts = [] {
    std::array<std::array<char, 4>, 256> texts{};
    for (unsigned value = 0; value < 256; ++value) {
        char* text = texts[value].data();
        unsigned digits = value >= 100 ? 3 : value >= 10 ? 2 : 1;
        for (unsigned k = digits, rest = value; k-- > 0; rest /= 10) {
            text[k] = static_cast<char>('0' + rest % 10);
        }
        text[3] = static_cast<char>(digits);
    }
    return texts;
}();

// The dotted address in quotes.
char* writeAddress(char* out, std::uint32_t address) {
    *out++ = '"';
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto& text = kOctetTexts[(address >> shift) & 0xFF];
        std::memcpy(out, text.data(), 3);  // the line's room has the spare bytes
        out += text[3];
        *out++ = shift == 0 ? '"' : '.';
    }
    return out;
}

// The texts of one line, measured once.
struct LineTexts {
    explicit LineTexts(const StreamFields& stream)
        : scheme(stream.scheme),
          host(stream.host),
          path(stream.path),
          query(stream.query),
          suffix(stream.suffix),
          typeName(stream.typeName),
          referer(stream.referer),
          userAgent(stream.userAgent),
          httpVersion(stream.httpVersion),
          serverName(stream.serverName) {}

    // Room for the whole line: every text at its longest escaped form (the URL repeats host,
    // path and query), the keys, two IPv6 addresses and two ports.
    std::size_t maxLength() const {
        constexpr std::size_t kKeysAndNumbers = 256 + 2 * (INET6_ADDRSTRLEN + 2);
        std::size_t texts = scheme.size() + 2 * (host.size() + path.size() + query.size()) +
                            suffix.size() + typeName.size() + referer.size() + userAgent.size() +
                            httpVersion.size() + serverName.size();
        return JsonString::maxLength(texts) + 8 * 2 + kKeysAndNumbers;
    }

    std::string_view scheme, host, path, query, suffix, typeName, referer, userAgent;
    std::string_view httpVersion, serverName;
};

// The URL's string: host, path and query as one string, since a character may span them.
char* writeUrl(char* out, const LineTexts& texts, std::string_view hostOut,
               std::string_view pathOut, std::string_view queryOut) {
    if (hostOut.size() == texts.host.size()) {
        // The host went out unchanged, so it is whole characters and ends on a character
        // boundary: the URL's string is the two strings just written, joined.
        *out++ = '"';
        std::memcpy(out, hostOut.data(), hostOut.size());
        out += hostOut.size();
        std::memcpy(out, pathOut.data(), pathOut.size());
        out += pathOut.size();
    } else {
        char url[sizeof(DetectedStream::host) + sizeof(DetectedStream::path)];
        std::memcpy(url, texts.host.data(), texts.host.size());
        std::memcpy(url + texts.host.size(), texts.path.data(), texts.path.size());
        out = JsonString::write(out, std::string_view(url, texts.host.size() + texts.path.size()));
        --out;  // the closing quote
    }
    // The query begins with "?", which no character runs into: its string just written joins
    // the URL's unchanged.
    std::memcpy(out, queryOut.data(), queryOut.size());
    out += queryOut.size();
    *out++ = '"';
    return out;
}

// A string just written at [begin, end), without its quotes.
std::string_view inside(const char* begin, const char* end) {
    return std::string_view(begin + 1, static_cast<std::size_t>(end - begin) - 2);
}

char* writeLine(char* out, const StreamFields& stream, const LineTexts& texts) {
    out = writeLiteral(out, "{\"scheme\":");
    out = JsonString::write(out, texts.scheme);
    out = writeLiteral(out, ",\"host\":");
    char* hostBegin = out;
    out = JsonString::write(out, texts.host);
    std::string_view hostOut = inside(hostBegin, out);
    out = writeLiteral(out, ",\"path\":");
    char* pathBegin = out;
    out = JsonString::write(out, texts.path);
    std::string_view pathOut = inside(pathBegin, out);
    out = writeLiteral(out, ",\"query\":");
    char* queryBegin = out;
    out = JsonString::write(out, texts.query);
    std::string_view queryOut = inside(queryBegin, out);
    out = writeLiteral(out, ",\"url\":");
    out = writeUrl(out, texts, hostOut, pathOut, queryOut);
    out = writeLiteral(out, ",\"suffix\":");
    out = JsonString::write(out, texts.suffix);
    out = writeLiteral(out, ",\"typeName\":");
    out = JsonString::write(out, texts.typeName);
    // The request's context; its cookie is a credential and is never printed.
    out = writeLiteral(out, ",\"referer\":");
    out = JsonString::write(out, texts.referer);
    out = writeLiteral(out, ",\"userAgent\":");
    out = JsonString::write(out, texts.userAgent);
    // Only a request read inside TLS has these.
    if (!texts.httpVersion.empty()) {
        out = writeLiteral(out, ",\"httpVersion\":");
        out = JsonString::write(out, texts.httpVersion);
    }
    if (!texts.serverName.empty()) {
        out = writeLiteral(out, ",\"sni\":");
        out = JsonString::write(out, texts.serverName);
    }
    out = writeLiteral(out, ",\"srcAddr\":");
    if (stream.isIpv6()) {
        out = writeAddress6(out, stream.srcAddr6);
        out = writeLiteral(out, ",\"dstAddr\":");
        out = writeAddress6(out, stream.dstAddr6);
    } else {
        out = writeAddress(out, stream.srcAddr());
        out = writeLiteral(out, ",\"dstAddr\":");
        out = writeAddress(out, stream.dstAddr());
    }
    out = writeLiteral(out, ",\"srcPort\":");
    out = writeNumber(out, stream.srcPort());
    out = writeLiteral(out, ",\"dstPort\":");
    out = writeNumber(out, stream.dstPort());
    *out++ = '}';
    return out;
}

}  // namespace

void StreamJsonLine::append(std::string& out, const DetectedStream& stream) {
    append(out, StreamFields::of(stream));
    // A finished download, for a saved list that shows it again: behind every older key, so
    // that a reader that knows none of this still finds the rest as before.
    if (StreamRecordFields::keepsDownload(stream)) {
        out.back() = ',';  // the object's closing brace
        out += "\"state\":";
        JsonString::append(out, StreamRecordFields::kEndedState);
        out += ",\"localFile\":";
        JsonString::append(out, stream.localFile);
        out += '}';
    }
}

void StreamJsonLine::append(std::string& out, const StreamFields& stream) {
    // Written straight into room made at the end, then cut to what was written.
    LineTexts texts(stream);
    std::size_t start = out.size();
    out.resize(start + texts.maxLength());
    char* end = writeLine(out.data() + start, stream, texts);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

std::string StreamJsonLine::line(const DetectedStream& stream) {
    std::string out;
    append(out, stream);
    return out;
}

namespace {

// A cursor over one line of the saved form; every read checks the end first.
class LineCursor {
  public:
    explicit LineCursor(std::string_view text) : text_(text) {}

    void skipSpace() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool atEnd() const { return pos_ >= text_.size(); }
    bool take(char c) {
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool peek(char c) {
        skipSpace();
        return pos_ < text_.size() && text_[pos_] == c;
    }

    // A JSON string into `out` as bytes; false on any fault.
    bool string(std::string& out) {
        out.clear();
        if (!take('"')) {
            return false;
        }
        while (pos_ < text_.size()) {
            const unsigned char c = static_cast<unsigned char>(text_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                if (!escape(out)) {
                    return false;
                }
                continue;
            }
            const std::size_t length = utf8SequenceLength(text_, pos_);
            if (length == 0) {
                return false;
            }
            out.append(text_.substr(pos_, length));
            pos_ += length;
        }
        return false;
    }

    // Digits of a non-negative integer, as text (at most ten of them).
    bool number(std::string& out) {
        skipSpace();
        const std::size_t start = pos_;
        while (pos_ < text_.size() && pos_ - start <= 10 && text_[pos_] >= '0' &&
               text_[pos_] <= '9') {
            ++pos_;
        }
        out.assign(text_.substr(start, pos_ - start));
        return !out.empty() && out.size() <= 10;
    }

  private:
    bool hex4(unsigned& value) {
        if (text_.size() - pos_ < 4) {
            return false;
        }
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    static void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        }
        out += static_cast<char>(0x80 | (code & 0x3F));
    }

    bool escape(std::string& out) {
        ++pos_;  // the backslash
        if (pos_ >= text_.size()) {
            return false;
        }
        const char c = text_[pos_++];
        switch (c) {
            case '"':
                out += '"';
                return true;
            case '\\':
                out += '\\';
                return true;
            case '/':
                out += '/';
                return true;
            case 'b':
                out += '\b';
                return true;
            case 'f':
                out += '\f';
                return true;
            case 'n':
                out += '\n';
                return true;
            case 'r':
                out += '\r';
                return true;
            case 't':
                out += '\t';
                return true;
            case 'u':
                break;
            default:
                return false;
        }
        unsigned code = 0;
        if (!hex4(code)) {
            return false;
        }
        // The writer escapes a byte it cannot pass as UTF-8 as \u00XX: it is that byte again.
        if (code <= 0xFF) {
            out += static_cast<char>(code);
            return true;
        }
        if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (text_.size() - pos_ < 2 || text_[pos_] != '\\' || text_[pos_ + 1] != 'u') {
                return false;
            }
            pos_ += 2;
            if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, code);
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

bool StreamJsonLine::parse(std::string_view line, DetectedStream& out, std::string& error) {
    StreamRecordFields::begin(out);
    LineCursor cursor(line);
    if (!cursor.take('{')) {
        error = "JSON のオブジェクトではありません";
        return false;
    }
    std::string key;
    std::string value;
    bool first = true;
    while (!cursor.take('}')) {
        if ((!first && !cursor.take(',')) || !cursor.string(key) || !cursor.take(':')) {
            error = "JSON の形が正しくありません";
            return false;
        }
        first = false;
        const bool text = cursor.peek('"');
        if (!(text ? cursor.string(value) : cursor.number(value))) {
            // A key from the file is named only when it is one of ours.
            error = (StreamRecordFields::known(key) ? key : std::string("キー")) +
                    " の値が正しくありません";
            return false;
        }
        if (!StreamRecordFields::set(out, key, value, error)) {
            return false;
        }
    }
    cursor.skipSpace();
    if (!cursor.atEnd()) {
        error = "オブジェクトの後に余分な文字があります";
        return false;
    }
    return StreamRecordFields::finish(out, error);
}
