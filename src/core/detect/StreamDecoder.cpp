#include "core/detect/StreamDecoder.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "core/capture/NetworkBytes.h"
#include "core/detect/Cp932Text.h"
#include "core/flow/TransportLocation.h"
#include "core/http/HeaderValueCheck.h"

namespace {

constexpr std::uint32_t kIpv4MinHeader = 20;
constexpr std::uint32_t kIpv6Header = 40;
constexpr std::uint32_t kTcpMinHeader = 20;
constexpr std::uint8_t kProtocolTcp = 6;

// IPv6 extension headers walked to reach the TCP header.
constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kDestinationOptions = 60;

bool isIpv6(const std::uint8_t* d) {
    return (d[0] >> 4) == 6;
}

// Offset of the TCP header behind the IPv6 fixed header and any hop-by-hop, routing,
// destination-options and fragment headers; 0 when there is none: another protocol, a chain
// cut short, or a fragment other than the first (which carries no TCP header).
std::uint32_t ipv6TcpStart(const std::uint8_t* d, std::uint32_t length) {
    if (length < kIpv6Header) {
        return 0;
    }
    std::uint8_t next = d[6];
    std::uint32_t at = kIpv6Header;
    // Every step moves on by at least 8 bytes, so the walk ends within the datagram.
    while (next != kProtocolTcp) {
        if (next == kFragment) {
            if (length < at + 8 || (readBe16(d + at + 2) & 0xFFF8) != 0) {
                return 0;
            }
            next = d[at];
            at += 8;
        } else if (next == kHopByHop || next == kRouting || next == kDestinationOptions) {
            if (length < at + 2) {
                return 0;
            }
            next = d[at];
            at += (d[at + 1] + 1u) * 8;
        } else {
            return 0;
        }
    }
    return at;
}

// Offset of the TCP header of an IPv4 datagram (behind its options); 0 when it is not TCP
// or its header length is below the minimum.
std::uint32_t ipv4TcpStart(const std::uint8_t* d, std::uint32_t length) {
    if (length < kIpv4MinHeader || d[9] != kProtocolTcp) {
        return 0;
    }
    std::uint32_t headerLength = (d[0] & 0x0Fu) * 4;
    return headerLength < kIpv4MinHeader ? 0 : headerLength;
}

// Where a datagram's TCP header and payload begin.
struct Segment {
    std::uint32_t tcp = 0;
    std::uint32_t payload = 0;
};

// Finds the TCP segment of a datagram to or from a watched port that carries payload bytes.
// The port test comes before anything else is read of the segment.
bool locateSegment(const std::uint8_t* d, std::uint32_t length, const WatchedPorts& ports,
                   Segment& segment) {
    if (length == 0) {
        return false;
    }
    std::uint32_t tcp = isIpv6(d) ? ipv6TcpStart(d, length) : ipv4TcpStart(d, length);
    if (tcp == 0 || length < tcp + 4) {
        return false;
    }
    if (!ports.contains(readBe16(d + tcp)) && !ports.contains(readBe16(d + tcp + 2))) {
        return false;
    }
    if (length <= tcp + kTcpMinHeader) {
        return false;  // no room for a header and one payload byte
    }
    std::uint32_t tcpLength = (d[tcp + 12] >> 4) * 4u;
    if (tcpLength < kTcpMinHeader || tcp + tcpLength >= length) {
        return false;
    }
    segment.tcp = tcp;
    segment.payload = tcp + tcpLength;
    return true;
}

// One of " \t\n\v\f\r". A test, not a search of that set: trimming runs several times a packet.
bool isWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view trimmedEnd(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && isWhiteSpace(text[end - 1])) {
        --end;
    }
    return text.substr(0, end);
}

std::string_view trimmed(std::string_view text) {
    text = trimmedEnd(text);
    std::size_t start = 0;
    while (start < text.size() && isWhiteSpace(text[start])) {
        ++start;
    }
    return text.substr(start);
}

constexpr const std::uint8_t* kZeros = StreamFields::kZeroBytes;

// Whether `text` fits a record's field of `capacity` bytes with its terminator.
bool fits(std::string_view text, std::size_t capacity) {
    return text.size() < capacity;
}

// `text` when it fits a field of `capacity` bytes, empty otherwise.
std::string_view fitting(std::string_view text, std::size_t capacity) {
    return fits(text, capacity) ? text : std::string_view{};
}

void fillIpv4Fields(const std::uint8_t* d, DetectedStream& r) {
    r.verIhl = d[0];
    r.tos = d[1];
    r.totalLength = readBe16(d + 2);
    r.ident = readBe16(d + 4);
    r.fragment = readBe16(d + 6);
    r.ttl = d[8];
    r.protocol = d[9];
    r.ipChecksum = readBe16(d + 10);
    r.srcAddr = readBe32(d + 12);
    r.dstAddr = readBe32(d + 16);
}

// The addresses stay in the datagram (see decodeLocated).
void fillIpv6Fields(const std::uint8_t* d, DetectedStream& r) {
    r.verIhl = d[0];
    r.tos = static_cast<std::uint8_t>((d[0] << 4) | (d[1] >> 4));
    r.totalLength = readBe16(d + 4);
    r.ttl = d[7];
    r.protocol = kProtocolTcp;
}

void fillTcpFields(const std::uint8_t* t, DetectedStream& r) {
    r.srcPort = readBe16(t);
    r.dstPort = readBe16(t + 2);
    r.seq = readBe32(t + 4);
    r.ack = readBe32(t + 8);
    r.dataOffset = t[12];
    r.tcpFlags = t[13];
    r.window = readBe16(t + 14);
    r.tcpChecksum = readBe16(t + 16);
    r.urgent = readBe16(t + 18);
}

bool endsQuery(unsigned char c) {
    return c <= 0x20 || c == 0x7F || c == '"' || c == '\'' || c == '<' || c == '>' || c == '#';
}

// The query of the URL whose suffix ends at `suffixEnd`: from a "?" right there up to the
// first byte that cannot be part of a URL in running text.
std::string_view queryAt(std::string_view text, std::size_t suffixEnd) {
    if (suffixEnd >= text.size() || text[suffixEnd] != '?') {
        return {};
    }
    std::size_t end = suffixEnd + 1;
    while (end < text.size() && !endsQuery(static_cast<unsigned char>(text[end]))) {
        ++end;
    }
    return text.substr(suffixEnd, end - suffixEnd);
}

struct SchemeMarker {
    std::string_view marker;
    const char* scheme;
};

// Tried in this order on the host part; a later match overrides an earlier one.
constexpr SchemeMarker kSchemeMarkers[] = {
    {"mms://", "mms"},   {"mmst://", "mms"},  {"mmsu://", "mmsu"},
    {"http://", "http"}, {"rtsp://", "rtsp"},
};

// Splits a "scheme://server/path" candidate. Returns false when the packet is to be dropped.
// `schemeCode` tells the scheme taken: 0 for none found, else 1 + its marker's index.
bool takeHostPart(std::string_view& candidate, bool singleBytes, StreamFields& r,
                  std::uint64_t& schemeCode) {
    std::size_t slashes = Cp932Text::find(candidate, "//", 0, singleBytes);
    if (slashes == Cp932Text::npos || slashes == 0) {
        return true;  // no scheme-like prefix: the candidate is all path
    }
    std::size_t pathStart = Cp932Text::find(candidate, "/", slashes + 2, singleBytes);
    if (pathStart == Cp932Text::npos) {
        return false;
    }
    std::string_view host = candidate.substr(0, pathStart);
    candidate = candidate.substr(pathStart);
    for (std::size_t i = 0; i < std::size(kSchemeMarkers); ++i) {
        std::size_t at = Cp932Text::find(host, kSchemeMarkers[i].marker, 0, singleBytes);
        if (at != Cp932Text::npos) {
            host = host.substr(at);
            r.scheme = kSchemeMarkers[i].scheme;
            schemeCode = i + 1;
        }
    }
    // A cut host would name another server: too long means dropped.
    r.host = host;
    return fits(host, DetectedStream::kHostCapacity);
}

// Where each form of the host header name first occurs, found in one pass over the ": "
// separators.
struct HostHeaderPositions {
    std::size_t upper = Cp932Text::npos;  // "HOST: "
    std::size_t mixed = Cp932Text::npos;  // "Host: "
    std::size_t lower = Cp932Text::npos;  // "host: "
};

HostHeaderPositions findHostHeaders(std::string_view text, bool singleBytes) {
    HostHeaderPositions found;
    Cp932Text::BoundaryCursor boundary(text, 0, singleBytes);
    std::size_t colon = 0;
    while ((colon = text.find(": ", colon)) != std::string_view::npos) {
        if (colon >= 4) {
            std::size_t start = colon - 4;
            std::string_view name = text.substr(start, 4);
            std::size_t* slot = name == "HOST"   ? &found.upper
                                : name == "Host" ? &found.mixed
                                : name == "host" ? &found.lower
                                                 : nullptr;
            if (slot != nullptr && *slot == Cp932Text::npos && boundary.isBoundary(start)) {
                *slot = start;
            }
        }
        ++colon;
    }
    return found;
}

// Makes the host from a "HOST: " / "Host: " / "host: " header in `r.host` (of the record that
// holds the header fields), `prefix` before its value, and views it. False when the header is
// too long.
bool takeHostHeader(std::string_view text, bool singleBytes, std::string_view prefix,
                    DetectedStream& r, StreamFields& out) {
    HostHeaderPositions positions = findHostHeaders(text, singleBytes);
    // The first form found counts, in this order, even at position 0.
    std::size_t at = positions.upper != Cp932Text::npos   ? positions.upper
                     : positions.mixed != Cp932Text::npos ? positions.mixed
                                                          : positions.lower;
    if (at == Cp932Text::npos || at == 0) {
        return true;
    }
    std::size_t valueStart = at + 6;
    std::size_t lineEnd = Cp932Text::find(text, "\n", valueStart, singleBytes);
    if (lineEnd == Cp932Text::npos) {
        return true;  // last line without a line feed: no value
    }
    std::string_view value = trimmedEnd(text.substr(valueStart, lineEnd - valueStart));
    if (value.empty()) {
        return true;  // "http://" alone names no server
    }
    if (prefix.size() + value.size() >= sizeof r.host) {
        return false;
    }
    std::memcpy(r.host, prefix.data(), prefix.size());
    std::memcpy(r.host + prefix.size(), value.data(), value.size());
    out.host = std::string_view(r.host, prefix.size() + value.size());
    return true;
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameNameIgnoringCase(std::string_view text, std::string_view lowerName) {
    if (text.size() != lowerName.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (asciiLower(text[i]) != lowerName[i]) {
            return false;
        }
    }
    return true;
}

// The request headers a record keeps, in the order of their fields.
constexpr std::string_view kContextNames[] = {"referer", "user-agent", "cookie"};
constexpr std::size_t kContextHeaders = std::size(kContextNames);
static_assert(kContextNames[0].size() != kContextNames[1].size() &&
              kContextNames[0].size() != kContextNames[2].size() &&
              kContextNames[1].size() != kContextNames[2].size());

// Which of the kept headers the line's name is (names match in any case); kContextHeaders
// for none.
std::size_t contextHeaderOf(std::string_view name) {
    for (std::size_t i = 0; i < kContextHeaders; ++i) {
        // The lengths differ: only the one name of the same length is compared.
        if (name.size() == kContextNames[i].size()) {
            return sameNameIgnoringCase(name, kContextNames[i]) ? i : kContextHeaders;
        }
    }
    return kContextHeaders;
}

// Takes the value of each kept request header on a line of its own behind the first line
// when it fits its field and is clean; a field stays empty else. The first line of a name
// counts; a last line without a line end is not looked at. One pass over the lines.
void takeRequestContext(std::string_view text, StreamFields& r) {
    struct Field {
        std::string_view* text;
        std::size_t capacity;
    };
    const Field fields[] = {{&r.referer, DetectedStream::kRefererCapacity},
                            {&r.userAgent, DetectedStream::kUserAgentCapacity},
                            {&r.cookie, DetectedStream::kCookieCapacity}};
    bool seen[kContextHeaders] = {};
    std::size_t found = 0;
    std::size_t lineStart = text.find('\n');
    while (lineStart != std::string_view::npos && found < kContextHeaders) {
        ++lineStart;
        std::size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            return;
        }
        std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos) {
            std::size_t header = contextHeaderOf(line.substr(0, colon));
            if (header < kContextHeaders && !seen[header]) {
                seen[header] = true;
                ++found;
                std::string_view value = trimmed(line.substr(colon + 1));
                if (fits(value, fields[header].capacity) && HeaderValueCheck::sendable(value)) {
                    *fields[header].text = value;
                }
            }
        }
        lineStart = lineEnd;
    }
}

}  // namespace

namespace {

std::atomic<std::uint64_t> nextVersion{1};

}  // namespace

// The snapshots a thread last took, with the version they belong to.
struct StreamDecoder::Snapshots {
    std::uint64_t version = 0;
    std::shared_ptr<const SuffixTable> table;
    std::shared_ptr<const AdapterEntry> adapter;
};

StreamDecoder::StreamDecoder()
    : table_(std::make_shared<const SuffixTable>()), version_(nextVersion.fetch_add(1)) {}

void StreamDecoder::published() {
    version_.store(nextVersion.fetch_add(1), std::memory_order_release);
}

const StreamDecoder::Snapshots& StreamDecoder::currentSnapshots() const {
    // Taking a snapshot costs several atomic read-modify-writes; checking the version one
    // load. A replaced snapshot stays alive until this thread decodes again.
    thread_local Snapshots cached;
    std::uint64_t version = version_.load(std::memory_order_acquire);
    if (cached.version != version) {
        std::lock_guard lock(snapshotsMutex_);
        cached.table = table_;
        cached.adapter = adapter_;
        cached.version = version;
    }
    return cached;
}

void StreamDecoder::setSuffixTable(std::shared_ptr<const SuffixTable> table) {
    if (!table) {
        table = std::make_shared<const SuffixTable>();
    }
    {
        std::lock_guard lock(snapshotsMutex_);
        table_.swap(table);  // the old table is released outside the lock
    }
    published();
}

std::shared_ptr<const SuffixTable> StreamDecoder::suffixTable() const {
    std::lock_guard lock(snapshotsMutex_);
    return table_;
}

void StreamDecoder::setAdapter(std::shared_ptr<const AdapterEntry> adapter) {
    {
        std::lock_guard lock(snapshotsMutex_);
        adapter_.swap(adapter);
    }
    published();
}

void StreamDecoder::setWatchedPorts(const WatchedPorts& ports) {
    ports_ = ports;
}

namespace {

// The decoder behind the located TCP segment of datagram `d`: the header fields go into
// `head`, the texts are viewed where they are (the datagram, the table, a literal) or, for a
// host made from a Host header, made in `head.host`.
// Where the target of the request line ends (before its query), 0 when the line has none.
std::size_t requestTargetEnd(std::string_view text) {
    const std::size_t start = text.find(' ');
    if (start == std::string_view::npos) {
        return 0;
    }
    std::size_t end = start + 1;
    while (end < text.size() && text[end] != '?' &&
           !endsQuery(static_cast<unsigned char>(text[end]))) {
        ++end;
    }
    return end > start + 1 ? end : 0;
}

// How a request's host is written when the request has no absolute URL: the scheme a port
// serves, or https for a request read inside TLS.
struct HostForm {
    std::string_view hostPrefix;  // before a Host header's value
    const char* scheme;           // when no scheme marker names one
    std::uint64_t schemeCode;     // the scheme's part of the kind key
};

constexpr std::uint64_t kHttpsSchemeCode = std::size(kSchemeMarkers) + 1;
constexpr HostForm kSecureHost{"https://", "https", kHttpsSchemeCode};

HostForm plainHostForm(std::uint16_t dstPort, const WatchedPorts& ports) {
    const bool http = dstPort == WatchedPorts::kHttpPort || ports.isAdded(dstPort);
    return {http ? "http://" : "msst://", "http", 0};
}

int decodeText(const std::uint8_t* d, std::uint32_t tcp, const char* payload,
               std::size_t payloadLength, const SuffixTable& table, const AdapterEntry* adapter,
               const WatchedPorts& ports, const HostForm* secure,
               const StreamDecoder::MediaKind* given, std::uint64_t snapshotVersion,
               DetectedStream& head, StreamFields& out);

int decodeLocated(const std::uint8_t* d, std::uint32_t length, const Segment& segment,
                  const SuffixTable& table, const AdapterEntry* adapter, const WatchedPorts& ports,
                  std::uint64_t snapshotVersion, DetectedStream& head, StreamFields& out) {
    return decodeText(d, segment.tcp, reinterpret_cast<const char*>(d + segment.payload),
                      length - segment.payload, table, adapter, ports, nullptr, nullptr,
                      snapshotVersion, head, out);
}

// The decoder proper: `payload` is the request's text, `d` the datagram whose IP header and TCP
// header (at `tcp`) describe the connection; `secure` is given for a request read inside TLS,
// `given` for one whose answer named its media: its URL is the request line's, whatever its
// suffix.
int decodeText(const std::uint8_t* d, std::uint32_t tcp, const char* payload,
               std::size_t payloadLength, const SuffixTable& table, const AdapterEntry* adapter,
               const WatchedPorts& ports, const HostForm* secure,
               const StreamDecoder::MediaKind* given, std::uint64_t snapshotVersion,
               DetectedStream& head, StreamFields& out) {
    // The text ends at the first zero byte or at the end of the received bytes.
    // Requests are nearly always plain ASCII, which spares every search below its walk over
    // two-byte characters.
    bool singleBytes = false;
    const std::string_view text = Cp932Text::upToZero(payload, payloadLength, singleBytes);
    std::optional<SuffixTable::Match> match;
    std::size_t suffixEnd = 0;
    if (given != nullptr) {
        suffixEnd = requestTargetEnd(text);
        if (suffixEnd == 0) {
            return -1;
        }
    } else {
        match = table.findFirstMatch(text, singleBytes);
        if (!match) {
            return -1;
        }
        suffixEnd = match->position + std::strlen(table.row(match->row).suffix);
    }

    std::memset(&head, 0, StreamFields::kHeaderBytes);
    out = StreamFields{};
    out.header = reinterpret_cast<const std::uint8_t*>(&head);
    out.adapterInfo = adapter != nullptr ? adapter->physAddress : kZeros;
    if (isIpv6(d)) {
        fillIpv6Fields(d, head);
        out.srcAddr6 = d + 8;
        out.dstAddr6 = d + 24;
    } else {
        fillIpv4Fields(d, head);
        out.srcAddr6 = out.dstAddr6 = kZeros;
    }
    fillTcpFields(d + tcp, head);
    const std::string_view suffix =
        given != nullptr ? given->suffix : std::string_view(table.row(match->row).suffix);
    const std::string_view typeName =
        given != nullptr ? given->typeName : std::string_view(table.row(match->row).typeName);
    out.suffix = fitting(suffix, DetectedStream::kSuffixCapacity);
    out.typeName = fitting(typeName, DetectedStream::kTypeNameCapacity);

    // A query too long for its field is left out; the stream is still listed.
    out.query = fitting(queryAt(text, suffixEnd), DetectedStream::kQueryCapacity);
    std::string_view candidate = text.substr(0, suffixEnd);
    // The later of the last space and the last line feed.
    std::size_t cut = Cp932Text::findLastOf(candidate, ' ', '\n', singleBytes);
    if (cut != Cp932Text::npos && cut > 0) {
        candidate = candidate.substr(cut);
    }
    candidate = trimmed(candidate);

    const HostForm form = secure != nullptr ? *secure : plainHostForm(head.dstPort, ports);
    out.scheme = form.scheme;
    std::uint64_t schemeCode = form.schemeCode;
    if (!takeHostPart(candidate, singleBytes, out, schemeCode)) {
        return -1;
    }
    // The snapshot fixes the adapter bytes and, with the row, the suffix and type name.
    static_assert(SuffixTable::kCapacity <= 64 && kHttpsSchemeCode < 16);
    if (snapshotVersion != 0 && match) {
        out.kindKey =
            snapshotVersion << 10 | static_cast<std::uint64_t>(match->row) << 4 | schemeCode;
    }
    // A cut path would name another file: too long means dropped.
    if (!fits(candidate, DetectedStream::kPathCapacity)) {
        return -1;
    }
    out.path = candidate;
    if (out.host.empty() && !takeHostHeader(text, singleBytes, form.hostPrefix, head, out)) {
        return -1;
    }
    if (out.host.empty() || out.path.empty()) {
        return -1;
    }
    takeRequestContext(text, out);
    return 0;
}

}  // namespace

int StreamDecoder::decode(const CapturedPacket& packet, DetectedStream& record) const {
    StreamFields fields;
    if (decode(packet, record, fields) != 0) {
        return -1;
    }
    fields.fill(record);
    return 0;
}

int StreamDecoder::decode(const CapturedPacket& packet, DetectedStream& head,
                          StreamFields& fields) const {
    return decode(packet.data, packet.length, head, fields);
}

int StreamDecoder::decode(const std::uint8_t* datagram, std::uint32_t length, DetectedStream& head,
                          StreamFields& fields) const {
    length = std::min(length, CapturedPacket::kCapacity);
    Segment segment;
    if (!locateSegment(datagram, length, ports_, segment)) {
        return -1;  // the bulk of traffic: no snapshot taken, nothing touched
    }
    const Snapshots& snapshots = currentSnapshots();
    int result = decodeLocated(datagram, length, segment, *snapshots.table, snapshots.adapter.get(),
                               ports_, snapshots.version, head, fields);
    if (result == 0 && !keepCookies_.load(std::memory_order_relaxed)) {
        fields.cookie = {};
    }
    return result;
}

int StreamDecoder::decodeFollowedRequest(const std::uint8_t* datagram, std::uint32_t length,
                                         std::string_view request, Layer layer,
                                         DetectedStream& head, StreamFields& fields,
                                         const StreamDecoder::MediaKind* given) const {
    length = std::min(length, CapturedPacket::kCapacity);
    // A request of HTTP/3 came over UDP: the header fields behind its ports are zero.
    std::uint32_t transport =
        TransportLocation::of(datagram, length, TransportLocation::kTcp).start;
    if (transport == 0) {
        transport = TransportLocation::of(datagram, length, TransportLocation::kUdp).start;
    }
    if (transport == 0 || length < transport + kTcpMinHeader) {
        return -1;
    }
    const Snapshots& snapshots = currentSnapshots();
    int result =
        decodeText(datagram, transport, request.data(), request.size(), *snapshots.table,
                   snapshots.adapter.get(), ports_, layer == Layer::kTls ? &kSecureHost : nullptr,
                   given, snapshots.version, head, fields);
    if (result == 0 && !keepCookies_.load(std::memory_order_relaxed)) {
        fields.cookie = {};
    }
    return result;
}

void StreamDecoder::setKeepCookies(bool keep) {
    keepCookies_.store(keep, std::memory_order_relaxed);
}

bool StreamDecoder::keepsCookies() const {
    return keepCookies_.load(std::memory_order_relaxed);
}

bool StreamDecoder::worthDecoding(const std::uint8_t* datagram, std::uint32_t length,
                                  const WatchedPorts& ports) {
    Segment segment;
    return locateSegment(datagram, length, ports, segment);
}

int StreamDecoder::decode(const CapturedPacket& packet, const SuffixTable& table,
                          const AdapterEntry* adapter, DetectedStream& record) {
    return decode(packet, table, adapter, WatchedPorts{}, record);
}

int StreamDecoder::decode(const CapturedPacket& packet, const SuffixTable& table,
                          const AdapterEntry* adapter, const WatchedPorts& ports,
                          DetectedStream& record) {
    std::uint32_t length = std::min(packet.length, CapturedPacket::kCapacity);
    Segment segment;
    if (!locateSegment(packet.data, length, ports, segment)) {
        return -1;
    }
    StreamFields fields;
    if (decodeLocated(packet.data, length, segment, table, adapter, ports, 0, record, fields) !=
        0) {
        return -1;
    }
    fields.fill(record);
    return 0;
}
