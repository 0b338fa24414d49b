#include "core/download/record/PlaylistFacts.h"

#include <charconv>

namespace {

std::string_view TrimLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.remove_suffix(1);
    }
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
        line.remove_prefix(1);
    }
    return line;
}

// The value of ATTRIBUTE= in an HLS attribute list, quotes removed; empty when absent.
std::string_view AttributeOf(std::string_view line, std::string_view name) {
    std::size_t at = line.find(':');
    while (at != std::string_view::npos && at < line.size()) {
        std::size_t start = at + 1;
        std::size_t equals = line.find('=', start);
        if (equals == std::string_view::npos) {
            return {};
        }
        std::string_view key = line.substr(start, equals - start);
        std::size_t valueStart = equals + 1;
        std::size_t end;
        std::string_view value;
        if (valueStart < line.size() && line[valueStart] == '"') {
            std::size_t close = line.find('"', valueStart + 1);
            if (close == std::string_view::npos) {
                close = line.size();
            }
            value = line.substr(valueStart + 1, close - valueStart - 1);
            end = line.find(',', close);
        } else {
            end = line.find(',', valueStart);
            value = line.substr(valueStart, end == std::string_view::npos ? std::string_view::npos
                                                                          : end - valueStart);
        }
        if (key == name) {
            return value;
        }
        at = end;
    }
    return {};
}

void ReadHls(std::string_view text, PlaylistFacts& facts) {
    bool first = true;
    long pendingBandwidth = -1;
    facts.live = true;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = TrimLine(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (first) {
            // A byte-order mark may precede the tag.
            if (line.starts_with("\xEF\xBB\xBF")) {
                line.remove_prefix(3);
            }
            if (line != "#EXTM3U") {
                return;
            }
            facts.isPlaylist = true;
            first = false;
            continue;
        }
        if (line == "#EXT-X-ENDLIST") {
            facts.live = false;
        } else if (line.starts_with("#EXT-X-KEY:") || line.starts_with("#EXT-X-SESSION-KEY:")) {
            facts.isProtected = facts.isProtected || PlaylistFacts::IsDrmKeyLine(line);
        } else if (line.starts_with("#EXT-X-STREAM-INF:")) {
            facts.isMaster = true;
            std::string_view value = AttributeOf(line, "BANDWIDTH");
            long bandwidth = 0;
            auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), bandwidth);
            pendingBandwidth = ec == std::errc() ? bandwidth : 0;
        } else if (!line.empty() && line.front() != '#' && pendingBandwidth >= 0) {
            if (pendingBandwidth > facts.bestBandwidth) {
                facts.bestBandwidth = pendingBandwidth;
                facts.bestVariant = std::string(line);
            }
            pendingBandwidth = -1;
        }
    }
    // A master playlist has no end of its own; its variants decide.
    if (facts.isMaster) {
        facts.live = false;
    }
}

void ReadDash(std::string_view text, PlaylistFacts& facts) {
    std::size_t mpd = text.find("<MPD");
    if (mpd == std::string_view::npos) {
        return;
    }
    facts.isPlaylist = true;
    std::string_view head = text.substr(mpd, text.find('>', mpd) - mpd);
    facts.live = head.find("type=\"dynamic\"") != std::string_view::npos ||
                 head.find("type='dynamic'") != std::string_view::npos;
    facts.isProtected = text.find("ContentProtection") != std::string_view::npos;
}

}  // namespace

bool PlaylistFacts::IsDrmKeyLine(std::string_view line) {
    std::string_view method = AttributeOf(line, "METHOD");
    std::string_view format = AttributeOf(line, "KEYFORMAT");
    bool clearMethod = method == "NONE" || method == "AES-128";
    return !clearMethod || (!format.empty() && format != "identity");
}

PlaylistFacts PlaylistFacts::Read(RecordKind kind, std::string_view text) {
    PlaylistFacts facts;
    if (kind == RecordKind::kHls) {
        ReadHls(text, facts);
    } else if (kind == RecordKind::kDash) {
        ReadDash(text, facts);
    }
    return facts;
}
