#include "core/store/StreamJsonLine.h"

#include <arpa/inet.h>

#include <cstring>
#include <string_view>

#include "core/store/JsonString.h"

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
