#include "cli/StreamPrinter.h"

#include <cstring>
#include <string_view>

#include "cli/JsonLine.h"

namespace {

std::string_view field(const char* text, std::size_t capacity) {
    return std::string_view(text, strnlen(text, capacity));
}

template <std::size_t N>
std::string_view field(const char (&text)[N]) {
    return field(text, N);
}

void appendAddress(std::string& out, std::uint32_t address) {
    char buffer[16];
    int n = std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", address >> 24,
                          (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF);
    out.append(buffer, static_cast<std::size_t>(n));
}

void appendKey(std::string& out, const char* key) {
    out += ",\"";
    out += key;
    out += "\":";
}

}  // namespace

StreamPrinter::StreamPrinter(Format format, std::FILE* out) : format_(format), out_(out) {}

bool StreamPrinter::print(const DetectedStream& stream) {
    buffer_.clear();
    if (format_ == Format::Json) {
        appendJson(buffer_, stream);
    } else {
        appendText(buffer_, stream);
    }
    buffer_ += '\n';
    return std::fwrite(buffer_.data(), 1, buffer_.size(), out_) == buffer_.size();
}

std::string StreamPrinter::line(const DetectedStream& stream, Format format) {
    std::string out;
    if (format == Format::Json) {
        appendJson(out, stream);
    } else {
        appendText(out, stream);
    }
    return out;
}

void StreamPrinter::appendText(std::string& out, const DetectedStream& stream) {
    out += field(stream.host);
    out += field(stream.path);
    out += '\t';
    out += field(stream.suffix);
    out += '\t';
    out += field(stream.typeName);
}

void StreamPrinter::appendJson(std::string& out, const DetectedStream& stream) {
    std::string_view host = field(stream.host);
    std::string_view path = field(stream.path);
    out += "{\"scheme\":";
    JsonLine::appendEscaped(out, field(stream.scheme));
    appendKey(out, "host");
    JsonLine::appendEscaped(out, host);
    appendKey(out, "path");
    JsonLine::appendEscaped(out, path);
    appendKey(out, "url");
    // One string of host and path: escaping them apart could split a character in two.
    char url[sizeof stream.host + sizeof stream.path];
    std::memcpy(url, host.data(), host.size());
    std::memcpy(url + host.size(), path.data(), path.size());
    JsonLine::appendEscaped(out, std::string_view(url, host.size() + path.size()));
    appendKey(out, "suffix");
    JsonLine::appendEscaped(out, field(stream.suffix));
    appendKey(out, "typeName");
    JsonLine::appendEscaped(out, field(stream.typeName));
    appendKey(out, "srcAddr");
    out += '"';
    appendAddress(out, stream.srcAddr);
    out += '"';
    appendKey(out, "dstAddr");
    out += '"';
    appendAddress(out, stream.dstAddr);
    out += '"';
    appendKey(out, "srcPort");
    out += std::to_string(stream.srcPort);
    appendKey(out, "dstPort");
    out += std::to_string(stream.dstPort);
    out += '}';
}
