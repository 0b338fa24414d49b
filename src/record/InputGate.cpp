#include "record/InputGate.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include <atomic>
#include <map>
#include <mutex>

namespace {

// How much of one opened URL has been read, and whether it is a playlist's text.
struct Gauge {
    int (*read)(void* opaque, std::uint8_t* buffer, int size) = nullptr;
    std::uint64_t count = 0;
    enum class Looks { kUndecided, kText, kMedia } looks = Looks::kUndecided;
};

InputGate::Settings gSettings;
std::mutex gMutex;
// By the opened context's protocol handle, which its read calls carry.
std::map<void*, Gauge> gGauges;
std::atomic<bool> gExceeded{false};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

// Spaces and a byte-order mark may come before a playlist's first mark.
bool IsLeadingFill(std::uint8_t byte) {
    return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n' || byte == 0xEF ||
           byte == 0xBB || byte == 0xBF;
}

void Sniff(Gauge& gauge, const std::uint8_t* data, int length) {
    for (int i = 0; i < length && gauge.looks == Gauge::Looks::kUndecided; ++i) {
        if (!IsLeadingFill(data[i])) {
            gauge.looks =
                data[i] == '#' || data[i] == '<' ? Gauge::Looks::kText : Gauge::Looks::kMedia;
        }
    }
}

int GaugedRead(void* opaque, std::uint8_t* buffer, int size) {
    int (*read)(void*, std::uint8_t*, int) = nullptr;
    {
        std::lock_guard lock(gMutex);
        auto found = gGauges.find(opaque);
        if (found == gGauges.end()) {
            return AVERROR(EIO);
        }
        read = found->second.read;
    }
    const int got = read(opaque, buffer, size);
    if (got <= 0) {
        return got;
    }
    std::lock_guard lock(gMutex);
    Gauge& gauge = gGauges[opaque];
    gauge.count += static_cast<std::uint64_t>(got);
    Sniff(gauge, buffer, got);
    if (gauge.looks != Gauge::Looks::kMedia && gauge.count > InputGate::kPlaylistLimit) {
        gExceeded.store(true);
        return AVERROR(EFBIG);
    }
    return got;
}

AVDictionary* OptionsFor(const std::string& url, AVDictionary** asked) {
    AVDictionary* options = nullptr;
    if (asked != nullptr) {
        av_dict_copy(&options, *asked, 0);
    }
    const InputGate::Settings& s = gSettings;
    av_dict_set(
        &options, "protocol_whitelist",
        StartsWithNoCase(url, "crypto+") ? "crypto,http,https,tls,tcp" : "http,https,tls,tcp", 0);
    av_dict_set(&options, "tls_verify", "1", 0);
    av_dict_set(&options, "ca_file",
                s.caFile.empty() ? InputGate::kSystemAuthorities : s.caFile.c_str(), 0);
    av_dict_set(&options, "multiple_requests", "0", 0);
    av_dict_set(&options, "reconnect", "0", 0);
    if (s.stallMicros > 0) {
        av_dict_set(&options, "rw_timeout", std::to_string(s.stallMicros).c_str(), 0);
    }
    av_dict_set(&options, "user_agent", s.userAgent.empty() ? nullptr : s.userAgent.c_str(), 0);
    av_dict_set(&options, "referer", s.referer.empty() ? nullptr : s.referer.c_str(), 0);
    av_dict_set(&options, "http_proxy", s.proxy.empty() ? nullptr : s.proxy.c_str(), 0);
    return options;
}

int OpenThroughGate(AVFormatContext* context, AVIOContext** pb, const char* url, int flags,
                    AVDictionary** asked) {
    if (url == nullptr || (flags & AVIO_FLAG_WRITE) != 0 || !InputGate::allows(url)) {
        av_log(context, AV_LOG_WARNING, "refused to open %s\n", url != nullptr ? url : "(nothing)");
        return AVERROR(EPERM);
    }
    if (gExceeded.load()) {
        return AVERROR(EFBIG);
    }
    AVDictionary* options = OptionsFor(url, asked);
    const int result = avio_open2(pb, url, AVIO_FLAG_READ, &context->interrupt_callback, &options);
    av_dict_free(&options);
    if (result < 0) {
        return result;
    }
    std::lock_guard lock(gMutex);
    // A handle the library closed on its own may be handed out again: it starts afresh.
    gGauges[(*pb)->opaque] = Gauge{(*pb)->read_packet, 0, Gauge::Looks::kUndecided};
    (*pb)->read_packet = GaugedRead;
    return result;
}

void CloseThroughGate(AVFormatContext*, AVIOContext* pb) {
    if (pb == nullptr) {
        return;
    }
    {
        std::lock_guard lock(gMutex);
        gGauges.erase(pb->opaque);
    }
    avio_close(pb);
}

}  // namespace

void InputGate::configure(Settings settings) {
    gSettings = std::move(settings);
}

void InputGate::guard(AVFormatContext* input) {
    input->io_open = OpenThroughGate;
    input->io_close = CloseThroughGate;
}

bool InputGate::allows(std::string_view url) {
    if (StartsWithNoCase(url, "crypto+")) {
        url.remove_prefix(7);
    }
    return StartsWithNoCase(url, "http://") || StartsWithNoCase(url, "https://");
}

bool InputGate::exceeded() {
    return gExceeded.load();
}
