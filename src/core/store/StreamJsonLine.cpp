#include "core/store/StreamJsonLine.h"

#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/store/JsonString.h"
#include "core/store/StreamRecordFields.h"
#include "core/store/Utf8Sequence.h"

namespace {

std::string_view field(const char* text, std::size_t capacity) {
    return std::string_view(text, strnlen(text, capacity));
}

template <std::size_t N>
std::string_view field(const char (&text)[N]) {
    return field(text, N);
}

template <std::size_t N>
void appendLiteral(std::string& out, const char (&text)[N]) {
    out.append(text, N - 1);
}

// Writes the decimal digits of `value` backwards, ending just before `end`; returns the start.
char* digitsBefore(char* end, unsigned value) {
    do {
        *--end = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return end;
}

void appendNumber(std::string& out, unsigned value) {
    char buffer[10];
    char* end = buffer + sizeof buffer;
    char* begin = digitsBefore(end, value);
    out.append(begin, static_cast<std::size_t>(end - begin));
}

// The IPv6 address in its shortest text (RFC 5952), in quotes.
void appendAddress6(std::string& out, const std::uint8_t* address) {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, address, text, sizeof text);
    out += '"';
    out += text;
    out += '"';
}

// The dotted address in quotes.
void appendAddress(std::string& out, std::uint32_t address) {
    char buffer[17];
    char* end = buffer + sizeof buffer;
    char* p = end;
    *--p = '"';
    for (int shift = 0; shift <= 24; shift += 8) {
        p = digitsBefore(p, (address >> shift) & 0xFF);
        *--p = shift == 24 ? '"' : '.';
    }
    out.append(p, static_cast<std::size_t>(end - p));
}

}  // namespace

void StreamJsonLine::append(std::string& out, const DetectedStream& stream) {
    std::string_view host = field(stream.host);
    std::string_view path = field(stream.path);
    appendLiteral(out, "{\"scheme\":");
    JsonString::append(out, field(stream.scheme));
    appendLiteral(out, ",\"host\":");
    std::size_t hostStart = out.size() + 1;  // after the opening quote
    JsonString::append(out, host);
    std::size_t hostEnd = out.size() - 1;  // before the closing quote
    appendLiteral(out, ",\"path\":");
    std::size_t pathStart = out.size() + 1;
    JsonString::append(out, path);
    std::size_t pathEnd = out.size() - 1;
    appendLiteral(out, ",\"query\":");
    std::size_t queryStart = out.size() + 1;
    JsonString::append(out, field(stream.query));
    std::size_t queryEnd = out.size() - 1;
    appendLiteral(out, ",\"url\":");
    if (hostEnd - hostStart == host.size()) {
        // The host went out unchanged, so it is whole characters and ends on a character
        // boundary: the URL's string is the two strings just written, joined.
        out.reserve(out.size() + (hostEnd - hostStart) + (pathEnd - pathStart) + 2);
        out += '"';
        out.append(out, hostStart, hostEnd - hostStart);
        out.append(out, pathStart, pathEnd - pathStart);
        out += '"';
    } else {
        // One string of host and path: escaping them apart could split a character in two.
        char url[sizeof stream.host + sizeof stream.path];
        std::memcpy(url, host.data(), host.size());
        std::memcpy(url + host.size(), path.data(), path.size());
        JsonString::append(out, std::string_view(url, host.size() + path.size()));
    }
    // The query begins with "?", which no character runs into: its string just written joins
    // the URL's unchanged.
    out.pop_back();
    out.append(out, queryStart, queryEnd - queryStart);
    out += '"';
    appendLiteral(out, ",\"suffix\":");
    JsonString::append(out, field(stream.suffix));
    appendLiteral(out, ",\"typeName\":");
    JsonString::append(out, field(stream.typeName));
    // The request's context; its cookie is a credential and is never printed.
    appendLiteral(out, ",\"referer\":");
    JsonString::append(out, field(stream.referer));
    appendLiteral(out, ",\"userAgent\":");
    JsonString::append(out, field(stream.userAgent));
    appendLiteral(out, ",\"srcAddr\":");
    if (IsIpv6(stream)) {
        appendAddress6(out, stream.srcAddr6);
        appendLiteral(out, ",\"dstAddr\":");
        appendAddress6(out, stream.dstAddr6);
    } else {
        appendAddress(out, stream.srcAddr);
        appendLiteral(out, ",\"dstAddr\":");
        appendAddress(out, stream.dstAddr);
    }
    appendLiteral(out, ",\"srcPort\":");
    appendNumber(out, stream.srcPort);
    appendLiteral(out, ",\"dstPort\":");
    appendNumber(out, stream.dstPort);
    out += '}';
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
