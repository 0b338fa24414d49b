#pragma once

#include <string>

#include "core/detect/DetectedStream.h"

// One stream as one JSON object on one line, the form of `detect --json` and of a saved list:
// scheme, host, path, query, url (host, path and query), suffix, typeName, referer, userAgent,
// srcAddr, dstAddr (dotted IPv4 or RFC 5952 IPv6 text), srcPort, dstPort. Texts are the
// record's bytes as JsonString writes them. The cookie is a credential and is never written.
class StreamJsonLine {
  public:
    // Appends the object, without a line break.
    static void append(std::string& out, const DetectedStream& stream);
    static std::string line(const DetectedStream& stream);
};
