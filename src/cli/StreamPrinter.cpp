#include "cli/StreamPrinter.h"

#include <cstring>
#include <string_view>

#include "cli/TerminalText.h"
#include "core/download/StreamCommand.h"
#include "core/store/StreamJsonLine.h"

namespace {

constexpr std::size_t kFlushAt = 1 << 16;

std::string_view field(const char* text, std::size_t capacity) {
    return std::string_view(text, strnlen(text, capacity));
}

template <std::size_t N>
std::string_view field(const char (&text)[N]) {
    return field(text, N);
}

}  // namespace

StreamPrinter::StreamPrinter(Format format, std::FILE* out, bool buffered)
    : format_(format), out_(out), buffered_(buffered) {}

StreamPrinter::~StreamPrinter() {
    flush();
}

template <typename Append>
bool StreamPrinter::printAppended(Append append) {
    // Full buffers go out before a line is added, so the newest line can still be taken back.
    if (buffered_ && buffer_.size() >= kFlushAt && !writeBuffer()) {
        return false;
    }
    append();
    if (!buffered_) {
        return writeBuffer() && std::fflush(out_) == 0;
    }
    return !failed_;
}

bool StreamPrinter::print(const DetectedStream& stream) {
    return printAppended([&] { appendLine(buffer_, stream, format_); });
}

bool StreamPrinter::print(const StreamFields& stream) {
    return printAppended([&] { appendLine(buffer_, stream, format_); });
}

bool StreamPrinter::printMade(std::string_view line) {
    if (buffered_ && buffer_.size() >= kFlushAt && !writeBuffer()) {
        return false;
    }
    buffer_ += line;
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
    out.pop_back();  // the line break
    return out;
}

void StreamPrinter::appendLine(std::string& out, const DetectedStream& stream, Format format) {
    switch (format) {
        case Format::Json:
            StreamJsonLine::append(out, stream);
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
    out += '\n';
}

void StreamPrinter::appendLine(std::string& out, const StreamFields& stream, Format format) {
    if (format == Format::Json) {
        StreamJsonLine::append(out, stream);
        out += '\n';
        return;
    }
    thread_local DetectedStream record;
    stream.fill(record);
    appendLine(out, record, format);
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
