#include "core/store/StreamCsvRow.h"

#include <arpa/inet.h>

#include <cstring>

#include "core/store/StreamRecordFields.h"
#include "core/store/Utf8Sequence.h"

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

template <std::size_t N>
std::string_view field(const char (&text)[N]) {
    return std::string_view(text, strnlen(text, N));
}

// A spreadsheet takes a cell that starts with one of these as a formula; text from the wire
// must never run as one. Such a field (and one that starts with the mark itself) is written
// after a "'", which reading takes off again.
constexpr std::string_view kFormulaStarts = "=+-@\t\r'";
constexpr char kTextMark = '\'';

void appendField(std::string& out, std::string_view bytes) {
    const bool quoted = bytes.find_first_of(",\"\r\n") != std::string_view::npos;
    if (quoted) {
        out += '"';
    }
    if (!bytes.empty() && kFormulaStarts.find(bytes[0]) != std::string_view::npos) {
        out += kTextMark;
    }
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t length = utf8SequenceLength(bytes, i);
        if (length == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        if (bytes[i] == '"') {
            out += '"';
        }
        out.append(bytes.substr(i, length));
        i += length;
    }
    if (quoted) {
        out += '"';
    }
}

std::string addressText(const DetectedStream& stream, bool source) {
    char text[INET6_ADDRSTRLEN] = {};
    if (IsIpv6(stream)) {
        ::inet_ntop(AF_INET6, source ? stream.srcAddr6 : stream.dstAddr6, text, sizeof text);
    } else {
        in_addr v4{htonl(source ? stream.srcAddr : stream.dstAddr)};
        ::inet_ntop(AF_INET, &v4, text, sizeof text);
    }
    return text;
}

}  // namespace

const std::vector<std::string_view>& StreamCsvRow::columns() {
    static const std::vector<std::string_view> names = {
        "scheme",    "host",    "path",    "query",   "url",     "suffix", "typeName", "referer",
        "userAgent", "srcAddr", "dstAddr", "srcPort", "dstPort", "state",  "localFile"};
    return names;
}

namespace {

std::string headerOf(std::size_t columnCount) {
    std::string out;
    for (std::size_t i = 0; i < columnCount; ++i) {
        if (!out.empty()) {
            out += ',';
        }
        out += StreamCsvRow::columns()[i];
    }
    return out;
}

}  // namespace

std::string StreamCsvRow::header() {
    return headerOf(columns().size()) + "\r\n";
}

bool StreamCsvRow::isHeader(std::string_view line) {
    static const std::string now = headerOf(columns().size());
    static const std::string before = headerOf(kColumnsWithoutDownload);
    return line == now || line == before;
}

void StreamCsvRow::append(std::string& out, const DetectedStream& stream) {
    std::string url(field(stream.host));
    url += field(stream.path);
    url += field(stream.query);
    const std::string_view texts[] = {field(stream.scheme),
                                      field(stream.host),
                                      field(stream.path),
                                      field(stream.query),
                                      url,
                                      field(stream.suffix),
                                      field(stream.typeName),
                                      field(stream.referer),
                                      field(stream.userAgent)};
    for (std::string_view text : texts) {
        appendField(out, text);
        out += ',';
    }
    out += addressText(stream, true);
    out += ',';
    out += addressText(stream, false);
    out += ',';
    out += std::to_string(stream.srcPort);
    out += ',';
    out += std::to_string(stream.dstPort);
    out += ',';
    // A path that is no UTF-8 would come back as another file: such a download is not kept.
    if (StreamRecordFields::keepsDownload(stream) && isUtf8(field(stream.localFile))) {
        out += StreamRecordFields::kEndedState;
        out += ',';
        appendField(out, field(stream.localFile));
    } else {
        out += ',';
    }
    out += "\r\n";
}

bool StreamCsvRow::parse(const std::vector<std::string>& fields, DetectedStream& out,
                         std::string& error) {
    StreamRecordFields::begin(out);
    const auto& names = columns();
    if (fields.size() != names.size() && fields.size() != kColumnsWithoutDownload) {
        error = std::to_string(names.size()) + " 列ではありません";
        return false;
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string_view value = fields[i];
        if (!value.empty() && value[0] == kTextMark) {
            value.remove_prefix(1);
        }
        if (!StreamRecordFields::set(out, names[i], value, error)) {
            return false;
        }
    }
    return StreamRecordFields::finish(out, error);
}
