#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "core/http/HttpMessageSink.h"

// Writes each head it gets as one line, so that a case's expectation is a short text.
class HttpTranscript : public HttpMessageSink {
  public:
    struct Segment {
        bool client;
        std::string bytes;
    };
    enum class Chunking { Whole, SingleBytes, Random };
    static constexpr Chunking kChunkings[] = {Chunking::Whole, Chunking::SingleBytes,
                                              Chunking::Random};

    void onRequest(const HttpRequestHead& r) override {
        text += "> " + std::to_string(r.index) + stream(r.stream) + " " + r.method + " " +
                r.scheme + "://" + r.authority + r.path + optional(" referer=", r.referer) +
                optional(" ua=", r.userAgent) + optional(" cookie=", r.cookie) + "\n";
    }
    void onResponse(const HttpResponseHead& r) override {
        text += "< " + std::to_string(r.requestIndex) + stream(r.stream) + " " +
                std::to_string(r.status) + optional(" ", r.contentType) + "\n";
    }

    // Feeds each segment to `connection` in the chunking's pieces, segments in order.
    template <typename Connection>
    void feed(Connection& connection, const std::vector<Segment>& segments, Chunking chunking) {
        std::mt19937 random(static_cast<unsigned>(segments.size()));
        for (const Segment& segment : segments) {
            std::span<const std::uint8_t> bytes(
                reinterpret_cast<const std::uint8_t*>(segment.bytes.data()), segment.bytes.size());
            while (!bytes.empty()) {
                std::size_t piece = bytes.size();
                if (chunking == Chunking::SingleBytes) {
                    piece = 1;
                } else if (chunking == Chunking::Random) {
                    piece = std::uniform_int_distribution<std::size_t>(1, 97)(random);
                }
                piece = std::min(piece, bytes.size());
                connection.feed(segment.client, bytes.first(piece), *this);
                bytes = bytes.subspan(piece);
            }
        }
    }

    std::string text;

  private:
    static std::string stream(std::uint64_t id) { return id == 0 ? "" : " s" + std::to_string(id); }
    static std::string optional(const char* label, const std::string& value) {
        return value.empty() ? "" : label + value;
    }
};
