#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Passes over an HTTP/1.x body by counting, never holding it: a known length, chunks (size
// lines, data, trailer fields), or everything until the connection ends.
class Http1BodySkipper {
  public:
    enum class Result { Done, NeedBytes, Broken };

    void expectLength(std::uint64_t length);
    void expectChunks();
    void expectUntilClose();

    // Takes body bytes from the front of `bytes`. Done once the body ended: the bytes left
    // then start the next message.
    Result skip(std::span<const std::uint8_t>& bytes);

    // Why the chunk framing broke.
    std::string_view problem() const { return problem_; }

  private:
    enum class Step {
        Counting,
        ChunkSize,
        ChunkSizeLineEnd,
        ChunkData,
        ChunkDataEnd,
        Trailer,
        UntilClose
    };

    Result skipCounted(std::span<const std::uint8_t>& bytes, Step after);
    Result readByte(std::uint8_t byte);
    Result readChunkSize(std::uint8_t byte);
    Result readChunkSizeLineEnd(std::uint8_t byte);
    Result readChunkDataEnd(std::uint8_t byte);
    Result readTrailer(std::uint8_t byte);
    Result broken(std::string_view why);

    Step step_ = Step::Counting;
    std::uint64_t left_ = 0;
    std::size_t digits_ = 0;
    std::size_t lineLength_ = 0;
    std::size_t trailerLength_ = 0;
    std::string_view problem_;
};
