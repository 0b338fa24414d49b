#include "core/store/StreamRecordFields.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>

namespace {

constexpr std::uint8_t kIpv4VerIhl = 0x45;
constexpr std::uint8_t kIpv6Version = 0x60;
constexpr std::uint8_t kTcp = 6;

template <std::size_t N>
bool setText(char (&field)[N], std::string_view name, std::string_view value, std::string& error) {
    // The record's texts end in a zero byte, which the value may not hold either.
    if (value.size() >= N || value.find('\0') != std::string_view::npos) {
        error = std::string(name) + " が長すぎるか、使えないバイトを含みます";
        return false;
    }
    std::memcpy(field, value.data(), value.size());
    field[value.size()] = '\0';
    return true;
}

bool setPort(std::uint16_t& port, std::string_view name, std::string_view value,
             std::string& error) {
    unsigned number = 0;
    const char* end = value.data() + value.size();
    auto [stop, code] = std::from_chars(value.data(), end, number);
    if (value.empty() || code != std::errc() || stop != end || number > 0xFFFF) {
        error = std::string(name) + " が 0 から 65535 のポート番号ではありません";
        return false;
    }
    port = static_cast<std::uint16_t>(number);
    return true;
}

// Dotted IPv4 (kept in host byte order) or IPv6 text (network order, and the record is marked
// as having come over IPv6).
bool setAddress(DetectedStream& out, bool source, std::string_view name, std::string_view value,
                std::string& error) {
    char text[INET6_ADDRSTRLEN] = {};
    if (value.size() < sizeof text) {
        std::memcpy(text, value.data(), value.size());
        in_addr v4{};
        if (::inet_pton(AF_INET, text, &v4) == 1) {
            (source ? out.srcAddr : out.dstAddr) = ntohl(v4.s_addr);
            return true;
        }
        if (::inet_pton(AF_INET6, text, source ? out.srcAddr6 : out.dstAddr6) == 1) {
            out.verIhl = kIpv6Version;
            return true;
        }
    }
    error = std::string(name) + " が IP アドレスではありません";
    return false;
}

}  // namespace

void StreamRecordFields::begin(DetectedStream& out) {
    std::memset(&out, 0, sizeof out);
    out.verIhl = kIpv4VerIhl;
    out.protocol = kTcp;
}

bool StreamRecordFields::set(DetectedStream& out, std::string_view name, std::string_view value,
                             std::string& error) {
    if (name == "scheme")
        return setText(out.scheme, name, value, error);
    if (name == "host")
        return setText(out.host, name, value, error);
    if (name == "path")
        return setText(out.path, name, value, error);
    if (name == "query")
        return setText(out.query, name, value, error);
    if (name == "suffix")
        return setText(out.suffix, name, value, error);
    if (name == "typeName")
        return setText(out.typeName, name, value, error);
    if (name == "referer")
        return setText(out.referer, name, value, error);
    if (name == "userAgent")
        return setText(out.userAgent, name, value, error);
    if (name == "httpVersion")
        return setText(out.httpVersion, name, value, error);
    if (name == "sni")
        return setText(out.serverName, name, value, error);
    if (name == "srcAddr")
        return setAddress(out, true, name, value, error);
    if (name == "dstAddr")
        return setAddress(out, false, name, value, error);
    if (name == "srcPort")
        return setPort(out.srcPort, name, value, error);
    if (name == "dstPort")
        return setPort(out.dstPort, name, value, error);
    if (name == "state") {
        out.state = value == kEndedState ? kStateEnded : kStateIdle;
        return true;
    }
    if (name == "localFile")
        return setText(out.localFile, name, value, error);
    return true;
}

bool StreamRecordFields::known(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "scheme",   "host",    "path",      "query",       "url",      "suffix",
        "typeName", "referer", "userAgent", "httpVersion", "sni",      "srcAddr",
        "dstAddr",  "srcPort", "dstPort",   "state",       "localFile"};
    for (std::string_view known : kNames) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

bool StreamRecordFields::finish(DetectedStream& out, std::string& error) {
    if (out.scheme[0] == '\0' || out.host[0] == '\0' || out.path[0] == '\0') {
        error = "scheme、host、path のどれかがありません";
        return false;
    }
    // The query the decoder keeps always starts with "?".
    if (out.query[0] != '\0' && out.query[0] != '?') {
        error = "query が \"?\" で始まっていません";
        return false;
    }
    // One address family for both ends.
    if ((out.verIhl == kIpv6Version) && (out.srcAddr != 0 || out.dstAddr != 0)) {
        error = "srcAddr と dstAddr のアドレスの種類が違います";
        return false;
    }
    if (!keepsDownload(out)) {
        out.state = kStateIdle;
        out.localFile[0] = '\0';
    }
    return true;
}

bool StreamRecordFields::keepsDownload(const DetectedStream& record) {
    if (LoadDownloadState(record) != kStateEnded || record.localFile[0] != '/') {
        return false;
    }
    // A path from a file reaches the desktop's opener and message boxes: no control bytes.
    const std::size_t length = ::strnlen(record.localFile, sizeof record.localFile);
    if (length == sizeof record.localFile) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(record.localFile[i]);
        if (byte < 0x20 || byte == 0x7F) {
            return false;
        }
    }
    return true;
}
