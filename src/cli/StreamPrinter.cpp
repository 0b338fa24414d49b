#include "cli/StreamPrinter.h"

#include <arpa/inet.h>

#include <cstring>
#include <string_view>

#include "cli/JsonLine.h"
#include "cli/TerminalText.h"
#include "core/download/StreamCommand.h"

namespace {

constexpr std::size_t kFlushAt = 1 << 16;

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

StreamPrinter::StreamPrinter(Format format, std::FILE* out, bool buffered)
    : format_(format), out_(out), buffered_(buffered) {}

StreamPrinter::~StreamPrinter() {
    flush();
}

bool StreamPrinter::print(const DetectedStream& stream) {
    // Full buffers go out before a line is added, so the newest line can still be taken back.
    if (buffered_ && buffer_.size() >= kFlushAt && !writeBuffer()) {
        return false;
    }
    appendLine(buffer_, stream, format_);
    buffer_ += '\n';
    if (!buffered_) {
        return writeBuffer() && std::fflush(out_) == 0;
    }
    return !failed_;
}

bool StreamPrinter::flush() {
    return writeBuffer() && std::fflush(out_) == 0;
}

bool StreamPrinter::writeBuffer() {
    if (!buffer_.empty() &&
        std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size()) {
        failed_ = true;
    }
    buffer_.clear();
    return !failed_;
}

std::string StreamPrinter::line(const DetectedStream& stream, Format format) {
    std::string out;
    appendLine(out, stream, format);
    return out;
}

void StreamPrinter::appendLine(std::string& out, const DetectedStream& stream, Format format) {
    switch (format) {
        case Format::Json:
            appendJson(out, stream);
            break;
        case Format::Curl:
            out += StreamCommand::shellLine(stream, StreamCommand::Tool::Curl);
            break;
        case Format::Ffmpeg:
            out += StreamCommand::shellLine(stream, StreamCommand::Tool::Ffmpeg);
            break;
        case Format::YtDlp:
            out += StreamCommand::shellLine(stream, StreamCommand::Tool::YtDlp);
            break;
        case Format::Text:
            appendText(out, stream);
            break;
    }
}

void StreamPrinter::appendText(std::string& out, const DetectedStream& stream) {
    // Host, path and query as one string: a character may span them.
    std::string_view host = field(stream.host);
    std::string_view path = field(stream.path);
    std::string_view query = field(stream.query);
    char url[sizeof stream.host + sizeof stream.path + sizeof stream.query];
    std::memcpy(url, host.data(), host.size());
    std::memcpy(url + host.size(), path.data(), path.size());
    std::memcpy(url + host.size() + path.size(), query.data(), query.size());
    TerminalText::appendEscaped(out,
                                std::string_view(url, host.size() + path.size() + query.size()));
    out += '\t';
    TerminalText::appendEscaped(out, field(stream.suffix));
    out += '\t';
    TerminalText::appendEscaped(out, field(stream.typeName));
}

void StreamPrinter::appendJson(std::string& out, const DetectedStream& stream) {
    std::string_view host = field(stream.host);
    std::string_view path = field(stream.path);
    appendLiteral(out, "{\"scheme\":");
    JsonLine::appendEscaped(out, field(stream.scheme));
    appendLiteral(out, ",\"host\":");
    std::size_t hostStart = out.size() + 1;  // after the opening quote
    JsonLine::appendEscaped(out, host);
    std::size_t hostEnd = out.size() - 1;  // before the closing quote
    appendLiteral(out, ",\"path\":");
    std::size_t pathStart = out.size() + 1;
    JsonLine::appendEscaped(out, path);
    std::size_t pathEnd = out.size() - 1;
    appendLiteral(out, ",\"query\":");
    std::size_t queryStart = out.size() + 1;
    JsonLine::appendEscaped(out, field(stream.query));
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
        JsonLine::appendEscaped(out, std::string_view(url, host.size() + path.size()));
    }
    // The query begins with "?", which no character runs into: its string just written joins
    // the URL's unchanged.
    out.pop_back();
    out.append(out, queryStart, queryEnd - queryStart);
    out += '"';
    appendLiteral(out, ",\"suffix\":");
    JsonLine::appendEscaped(out, field(stream.suffix));
    appendLiteral(out, ",\"typeName\":");
    JsonLine::appendEscaped(out, field(stream.typeName));
    // The request's context; its cookie is a credential and is never printed.
    appendLiteral(out, ",\"referer\":");
    JsonLine::appendEscaped(out, field(stream.referer));
    appendLiteral(out, ",\"userAgent\":");
    JsonLine::appendEscaped(out, field(stream.userAgent));
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
