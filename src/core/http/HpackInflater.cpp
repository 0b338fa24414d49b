#include "core/http/HpackInflater.h"

#include <nghttp2/nghttp2.h>

void HpackInflater::Deleter::operator()(nghttp2_hd_inflater* inflater) const {
    nghttp2_hd_inflate_del(inflater);
}

HpackInflater::HpackInflater() {
    nghttp2_hd_inflater* inflater = nullptr;
    if (nghttp2_hd_inflate_new2(&inflater, nullptr) == 0) {
        inflater_.reset(inflater);
    }
}

HpackInflater::Step HpackInflater::inflate(std::span<const std::uint8_t> in, bool last) {
    // The library does pointer arithmetic on its input even when it is empty.
    static const std::uint8_t kNothing = 0;
    nghttp2_nv field{};
    int flags = 0;
    const ssize_t used =
        nghttp2_hd_inflate_hd2(inflater_.get(), &field, &flags, in.empty() ? &kNothing : in.data(),
                               in.size(), last ? 1 : 0);
    Step step;
    if (used < 0 || static_cast<std::size_t>(used) > in.size()) {
        return step;
    }
    step.ok = true;
    step.consumed = static_cast<std::size_t>(used);
    step.emitted = (flags & NGHTTP2_HD_INFLATE_EMIT) != 0;
    step.finished = (flags & NGHTTP2_HD_INFLATE_FINAL) != 0;
    if (step.emitted) {
        step.name = {reinterpret_cast<const char*>(field.name), field.namelen};
        step.value = {reinterpret_cast<const char*>(field.value), field.valuelen};
    }
    return step;
}

void HpackInflater::endBlock() {
    nghttp2_hd_inflate_end_headers(inflater_.get());
}

bool HpackInflater::changeTableSize(std::size_t size) {
    return nghttp2_hd_inflate_change_table_size(inflater_.get(), size) == 0;
}
