#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct nghttp3_qpack_decoder;
struct nghttp3_qpack_stream_context;

// The QPACK decoder (libnghttp3's) for the field sections one side sends. Its dynamic table is
// built from that side's encoder stream and may be as large as the receiving side announced;
// until then only the static table is used. Once it fails it stays failed.
class QpackDecoder {
  public:
    // One field section on its way through the decoder: it may wait for encoder-stream bytes
    // and then carry on where it stopped.
    class Section {
      public:
        explicit Section(std::uint64_t stream);
        bool usable() const { return context_ != nullptr; }

      private:
        friend class QpackDecoder;
        struct Deleter {
            void operator()(nghttp3_qpack_stream_context* context) const;
        };
        std::unique_ptr<nghttp3_qpack_stream_context, Deleter> context_;
    };

    enum class Outcome { Finished, Blocked, Failed };
    using FieldHandler = std::function<void(std::string_view name, std::string_view value)>;

    // A table the sender may not use: blocks must refer to the static table only.
    QpackDecoder();

    // Lets the sender fill a table of up to `capacity` bytes. Only before any encoder-stream
    // bytes were read: the table's bound also decides how block prefixes are read.
    bool allowTable(std::size_t capacity);
    // The sender's encoder-stream bytes; false when they break the table.
    bool readEncoder(std::span<const std::uint8_t> bytes);
    // Decodes from the front of `block` (the rest of the section), which it advances, handing
    // each field to `onField`. Blocked: the rest waits for encoder-stream bytes.
    Outcome decode(Section& section, std::span<const std::uint8_t>& block,
                   const FieldHandler& onField);

    bool failed() const { return !failure_.empty(); }
    std::string_view failure() const { return failure_; }

  private:
    struct Deleter {
        void operator()(nghttp3_qpack_decoder* decoder) const;
    };

    bool create(std::size_t capacity);
    void discardDecoderStream();
    void fail(std::string_view what, long code);

    std::unique_ptr<nghttp3_qpack_decoder, Deleter> decoder_;
    // What the decoder would tell the encoder; a reader of a capture only throws it away.
    std::vector<std::uint8_t> decoderStream_;
    std::string failure_;
};
