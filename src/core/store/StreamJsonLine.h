#pragma once

#include <string>
#include <string_view>

#include "core/detect/DetectedStream.h"
#include "core/detect/StreamFields.h"

// One stream as one JSON object on one line, the form of `detect --json` and of a saved list:
// scheme, host, path, query, url (host, path and query), suffix, typeName, referer, userAgent,
// for a request read inside TLS httpVersion and sni (its hello's server name), srcAddr, dstAddr
// (dotted IPv4 or RFC 5952 IPv6 text), srcPort, dstPort, and last, for a download that ended in
// its file, state ("ended") and localFile (StreamRecordFields::keepsDownload). Texts are the
// record's bytes as JsonString writes them. The cookie is a credential and is never written.
class StreamJsonLine {
  public:
    // Appends the object, without a line break.
    static void append(std::string& out, const DetectedStream& stream);
    static void append(std::string& out, const StreamFields& stream);
    static std::string line(const DetectedStream& stream);

    // Reads one line written by append() (or by hand in the same form) into `out`, zeroed
    // first. Strict: one object of string and number values, every text within its field's
    // capacity, valid UTF-8 or \u escapes (\u0000 to \u00FF give back the byte the writer
    // escaped), a known address form, ports up to 65535; host and path must be present.
    // Unknown keys are skipped. False with `error` (Japanese) when the line is refused.
    static bool parse(std::string_view line, DetectedStream& out, std::string& error);
};
