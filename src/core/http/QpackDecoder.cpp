#include "core/http/QpackDecoder.h"

#include <nghttp3/nghttp3.h>

namespace {

// Sections the library is told may wait at once. It does not hold them itself: the connection
// keeps and bounds the waiting sections.
constexpr std::size_t kBlockedSections = 64;

std::string_view textOf(const nghttp3_rcbuf* buffer) {
    const nghttp3_vec bytes = nghttp3_rcbuf_get_buf(buffer);
    return {reinterpret_cast<const char*>(bytes.base), bytes.len};
}

// Gives the field's two references back however the handling of the field ends.
struct FieldReferences {
    nghttp3_qpack_nv& field;
    ~FieldReferences() {
        nghttp3_rcbuf_decref(field.name);
        nghttp3_rcbuf_decref(field.value);
    }
};

}  // namespace

void QpackDecoder::Section::Deleter::operator()(nghttp3_qpack_stream_context* context) const {
    nghttp3_qpack_stream_context_del(context);
}

QpackDecoder::Section::Section(std::uint64_t stream) {
    // The id only goes into decoder-stream instructions, which are thrown away; kept within
    // what QUIC allows so the library can always write it.
    constexpr std::uint64_t kLargestStream = (std::uint64_t{1} << 62) - 1;
    nghttp3_qpack_stream_context* context = nullptr;
    if (nghttp3_qpack_stream_context_new(&context,
                                         static_cast<std::int64_t>(stream & kLargestStream),
                                         nghttp3_mem_default()) == 0) {
        context_.reset(context);
    }
}

void QpackDecoder::Deleter::operator()(nghttp3_qpack_decoder* decoder) const {
    nghttp3_qpack_decoder_del(decoder);
}

QpackDecoder::QpackDecoder() {
    create(0);
}

bool QpackDecoder::allowTable(std::size_t capacity) {
    return !failed() && create(capacity);
}

bool QpackDecoder::create(std::size_t capacity) {
    nghttp3_qpack_decoder* decoder = nullptr;
    const int result =
        nghttp3_qpack_decoder_new(&decoder, capacity, kBlockedSections, nghttp3_mem_default());
    if (result != 0) {
        decoder_.reset();
        fail("QPACK decoder could not be made", result);
        return false;
    }
    decoder_.reset(decoder);
    return true;
}

bool QpackDecoder::readEncoder(std::span<const std::uint8_t> bytes) {
    if (failed()) {
        return false;
    }
    const nghttp3_ssize used =
        nghttp3_qpack_decoder_read_encoder(decoder_.get(), bytes.data(), bytes.size());
    if (used < 0 || static_cast<std::size_t>(used) != bytes.size()) {
        fail("QPACK encoder stream breaks the table", used);
        return false;
    }
    discardDecoderStream();
    return true;
}

QpackDecoder::Outcome QpackDecoder::decode(Section& section, std::span<const std::uint8_t>& block,
                                           const FieldHandler& onField) {
    // The library does pointer arithmetic on its input even when it is empty.
    static const std::uint8_t kNothing = 0;
    if (failed() || !section.usable()) {
        fail("QPACK field section could not be started", 0);
        return Outcome::Failed;
    }
    while (true) {
        nghttp3_qpack_nv field{};
        std::uint8_t flags = 0;
        const nghttp3_ssize used = nghttp3_qpack_decoder_read_request(
            decoder_.get(), section.context_.get(), &field, &flags,
            block.empty() ? &kNothing : block.data(), block.size(), 1);
        if (used < 0 || static_cast<std::size_t>(used) > block.size()) {
            fail("QPACK field section does not decompress", used);
            return Outcome::Failed;
        }
        block = block.subspan(static_cast<std::size_t>(used));
        if ((flags & NGHTTP3_QPACK_DECODE_FLAG_EMIT) != 0) {
            const FieldReferences references{field};
            onField(textOf(field.name), textOf(field.value));
        }
        if ((flags & NGHTTP3_QPACK_DECODE_FLAG_FINAL) != 0) {
            discardDecoderStream();
            return Outcome::Finished;
        }
        if ((flags & NGHTTP3_QPACK_DECODE_FLAG_BLOCKED) != 0) {
            return Outcome::Blocked;
        }
        if (used == 0 && (flags & NGHTTP3_QPACK_DECODE_FLAG_EMIT) == 0) {
            fail("QPACK field section ends inside a field", 0);
            return Outcome::Failed;
        }
    }
}

void QpackDecoder::discardDecoderStream() {
    const std::size_t length = nghttp3_qpack_decoder_get_decoder_streamlen(decoder_.get());
    if (length == 0) {
        return;
    }
    decoderStream_.resize(length);
    std::uint8_t* start = decoderStream_.data();
    nghttp3_buf buffer{start, start + length, start, start};
    nghttp3_qpack_decoder_write_decoder(decoder_.get(), &buffer);
}

void QpackDecoder::fail(std::string_view what, long code) {
    if (!failure_.empty()) {
        return;
    }
    failure_ = what;
    if (code < 0) {
        failure_ += std::string(" (") + nghttp3_strerror(static_cast<int>(code)) + ")";
    }
}
