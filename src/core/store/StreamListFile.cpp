#include "core/store/StreamListFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/file/AsideFile.h"
#include "core/store/StreamCsvRow.h"
#include "core/store/StreamJsonLine.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kWriteChunk = 1 << 16;

bool startsWith(std::string_view text, std::string_view head) {
    return text.substr(0, head.size()) == head;
}

bool isPcapMagic(std::string_view head) {
    static constexpr std::string_view kMagics[] = {
        std::string_view("\xD4\xC3\xB2\xA1", 4), std::string_view("\xA1\xB2\xC3\xD4", 4),
        std::string_view("\x4D\x3C\xB2\xA1", 4), std::string_view("\xA1\xB2\x3C\x4D", 4)};
    for (std::string_view magic : kMagics) {
        if (startsWith(head, magic)) {
            return true;
        }
    }
    return false;
}

// The first line without its line break; empty when it has none within `head`, unless
// `head` is the whole file.
std::string_view firstLine(std::string_view head) {
    const std::size_t end = head.find('\n');
    std::string_view line = end == std::string_view::npos ? head : head.substr(0, end);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

StreamListFile::Kind StreamListFile::sniffBytes(std::string_view head) {
    if (head.empty()) {
        return Kind::Empty;
    }
    if (isPcapMagic(head)) {
        return Kind::Pcap;
    }
    if (startsWith(head, std::string_view("\x0A\x0D\x0D\x0A", 4))) {
        return Kind::Pcapng;
    }
    if (startsWith(head, kByteOrderMark)) {
        head.remove_prefix(kByteOrderMark.size());
    }
    const std::string_view line = firstLine(head);
    if (StreamCsvRow::isHeader(line)) {
        return Kind::Csv;
    }
    // A JSON line is ours only when its first record reads as one of ours.
    DetectedStream record;
    std::string error;
    if (startsWith(line, "{") && StreamJsonLine::parse(line, record, error)) {
        return Kind::JsonLines;
    }
    return Kind::Unknown;
}

StreamListFile::Kind StreamListFile::sniff(const std::string& path, std::string& error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        error = std::strerror(errno);
        return Kind::Unknown;
    }
    std::string head(kMaxRecordBytes + 1, '\0');
    const std::size_t got = std::fread(head.data(), 1, head.size(), file.get());
    if (std::ferror(file.get())) {
        error = std::strerror(errno);
        return Kind::Unknown;
    }
    head.resize(got);
    return sniffBytes(head);
}

bool StreamListFile::namesCsv(std::string_view path) {
    if (path.size() < 4) {
        return false;
    }
    std::string_view end = path.substr(path.size() - 4);
    return end[0] == '.' && (end[1] | 0x20) == 'c' && (end[2] | 0x20) == 's' &&
           (end[3] | 0x20) == 'v';
}

bool StreamListFile::save(const std::string& path, bool csv,
                          const std::function<bool(DetectedStream&)>& next, std::string& error) {
    AsideFile file;
    auto fail = [&](int code, const char* call) {
        error = std::string(call) + ": " + std::strerror(code);
        file.discard();
        return false;
    };
    if (int code = file.open(path, 0644); code != 0) {
        return fail(code, file.failedCall());
    }
    std::string buffer = csv ? StreamCsvRow::header() : std::string();
    DetectedStream record;
    while (next(record)) {
        if (csv) {
            StreamCsvRow::append(buffer, record);
        } else {
            StreamJsonLine::append(buffer, record);
            buffer += '\n';
        }
        if (buffer.size() >= kWriteChunk) {
            if (int code = file.write(buffer.data(), buffer.size()); code != 0) {
                return fail(code, "write");
            }
            buffer.clear();
        }
    }
    if (int code = file.write(buffer.data(), buffer.size()); code != 0) {
        return fail(code, "write");
    }
    if (int code = file.commit(); code != 0) {
        return fail(code, file.failedCall());
    }
    return true;
}
