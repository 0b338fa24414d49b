#include "core/detect/SuffixTable.h"

#include <algorithm>
#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "core/detect/Cp932Text.h"
#include "core/detect/KnownSuffixes.h"

namespace {

void copyText(char* field, std::string_view text) {
    std::copy(text.begin(), text.end(), field);
    field[text.size()] = '\0';
}

std::string_view untilZero(std::string_view text) {
    return text.substr(0, std::min(text.size(), text.find('\0')));
}

}  // namespace

SuffixTable::SuffixTable() = default;

std::shared_ptr<const SuffixTable> SuffixTable::withKnownSuffixes() {
    auto table = std::make_shared<SuffixTable>();
    for (const KnownSuffixes::Entry& entry : KnownSuffixes::all()) {
        table->add(entry.suffix, entry.typeName);
    }
    return table;
}

bool SuffixTable::add(std::string_view suffix, std::string_view typeName) {
    if (count_ >= kCapacity || suffix.size() > kMaxSuffixLength ||
        typeName.size() > kMaxTypeNameLength) {
        return false;
    }
    // Texts are C strings: a zero byte ends them, as it would in a file line.
    suffix = untilZero(suffix);
    typeName = untilZero(typeName);
    int index = count_++;
    SuffixEntry& entry = rows_[static_cast<std::size_t>(index)];
    copyText(entry.suffix, suffix);
    copyText(entry.typeName, typeName);

    Form& lower = lower_[static_cast<std::size_t>(index)];
    copyText(lower.text, suffix);
    lower.length = static_cast<std::uint8_t>(suffix.size());
    Form& upper = upper_[static_cast<std::size_t>(index)];
    upper = lower;
    Cp932Text::toUpper(upper.text, upper.length);
    for (Form* form : {&lower, &upper}) {
        form->word = 0;
        std::memcpy(&form->word, form->text, form->length);
        form->mask =
            form->length == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * form->length)) - 1;
    }
    if (suffix.empty()) {
        return true;  // found at position 0 by definition, so it never matches
    }
    searched_ |= RowMask{1} << index;
    indexForm(index, lower, lowerFirst_, lowerSecond_);
    indexForm(index, upper, upperFirst_, upperSecond_);
    return true;
}

void SuffixTable::indexForm(int row, const Form& form, std::array<RowMask, 256>& first,
                            std::array<RowMask, 256>& second) {
    RowMask bit = RowMask{1} << row;
    auto start = static_cast<unsigned char>(form.text[0]);
    first[start] |= bit;
    if (form.length == 1) {
        for (RowMask& mask : second) {
            mask |= bit;
        }
    } else {
        second[static_cast<unsigned char>(form.text[1])] |= bit;
    }
    for (std::size_t b = 0; b < second.size(); ++b) {
        secondByte_[b] = secondByte_[b] || second[b] != 0;
    }
    if (!startByte_[start]) {
        startByte_[start] = true;
        ++startByteCount_;
        onlyStartByte_ = start;
    }
}

SuffixTable::Found SuffixTable::scan(std::string_view text, std::size_t* lowerAt,
                                     std::size_t* upperAt, bool singleBytes) const {
    RowMask pendingLower = searched_;
    RowMask pendingUpper = searched_;
    // Once the first searched row is found past position 0 no other row can win.
    const RowMask firstRow = searched_ & -searched_;
    bool done = false;  // updated whenever a form is found
    auto decided = [&] { return done; };
    Cp932Text::BoundaryCursor boundary(text, 0, singleBytes);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t size = text.size();

    // The eight bytes at `i`, zero-padded at the end of the text.
    auto wordAt = [&](std::size_t i) {
        std::uint64_t word = 0;
        if (i + 8 <= size) {
            std::memcpy(&word, bytes + i, 8);
        } else {
            for (std::size_t k = 0; i + k < size; ++k) {
                word |= std::uint64_t{bytes[i + k]} << (8 * k);
            }
        }
        return word;
    };
    auto tryForms = [&](std::size_t i, std::uint64_t word, RowMask candidates,
                        const std::array<Form, kCapacity>& forms, std::size_t* foundAt,
                        RowMask& pending) {
        while (candidates != 0) {
            int row = std::countr_zero(candidates);
            candidates &= candidates - 1;
            const Form& form = forms[static_cast<std::size_t>(row)];
            if (i + form.length <= size && ((word ^ form.word) & form.mask) == 0 &&
                boundary.isBoundary(i)) {
                foundAt[row] = i;
                pending &= ~(RowMask{1} << row);
                done = (pendingLower | pendingUpper) == 0 ||
                       ((pendingLower & firstRow) == 0 && lowerAt[std::countr_zero(firstRow)] > 0);
            }
        }
    };
    auto visit = [&](std::size_t i) {
        unsigned char next = i + 1 < size ? bytes[i + 1] : 0;
        RowMask lower = lowerFirst_[bytes[i]] & lowerSecond_[next] & pendingLower;
        RowMask upper = upperFirst_[bytes[i]] & upperSecond_[next] & pendingUpper;
        if ((lower | upper) == 0) {
            return;
        }
        std::uint64_t word = wordAt(i);
        if (lower != 0) {
            tryForms(i, word, lower, lower_, lowerAt, pendingLower);
        }
        if (upper != 0) {
            tryForms(i, word, upper, upper_, upperAt, pendingUpper);
        }
    };

    if (startByteCount_ == 1) {
        // The usual case: every suffix starts with '.', so only the dots need a look, and
        // most dots are followed by a byte that no suffix has second.
        auto visitDot = [&](std::size_t i) {
            unsigned char next = i + 1 < size ? bytes[i + 1] : 0;
            if (secondByte_[next]) {
                visit(i);
            }
        };
        std::size_t i = 0;
#ifdef __SSE2__
        const __m128i dot = _mm_set1_epi8(static_cast<char>(onlyStartByte_));
        for (; i + 16 <= size && !decided(); i += 16) {
            __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
            auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, dot)));
            while (hits != 0 && !decided()) {
                visitDot(i + static_cast<std::size_t>(std::countr_zero(hits)));
                hits &= hits - 1;
            }
        }
        if (i < size && !decided()) {
            // The last few bytes, through a copy: the text may end where its memory does.
            alignas(16) unsigned char tail[16] = {};
            std::memcpy(tail, bytes + i, size - i);
            __m128i chunk = _mm_load_si128(reinterpret_cast<const __m128i*>(tail));
            auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, dot))) &
                        ((1u << (size - i)) - 1);
            while (hits != 0 && !decided()) {
                visitDot(i + static_cast<std::size_t>(std::countr_zero(hits)));
                hits &= hits - 1;
            }
            i = size;
        }
#endif
        for (; i < size && !decided(); ++i) {
            if (bytes[i] == onlyStartByte_) {
                visitDot(i);
            }
        }
        return {searched_ & ~pendingLower, searched_ & ~pendingUpper};
    }
    for (std::size_t i = 0; i < size && !decided(); ++i) {
        if (startByte_[bytes[i]]) {
            visit(i);
        }
    }
    return {searched_ & ~pendingLower, searched_ & ~pendingUpper};
}

std::optional<SuffixTable::Match> SuffixTable::findFirstMatch(std::string_view text,
                                                              bool singleBytes) const {
    if (searched_ == 0) {
        return std::nullopt;
    }
    // Only the entries of rows found are written and read.
    std::size_t lowerAt[kCapacity];
    std::size_t upperAt[kCapacity];
    const Found found = scan(text, lowerAt, upperAt, singleBytes);
    // A row wins with its own form found past position 0; its upper-case form counts only
    // when its own form was not found at all (not even at position 0).
    RowMask lowerPastStart = 0;
    for (RowMask rows = found.lower; rows != 0; rows &= rows - 1) {
        const int row = std::countr_zero(rows);
        lowerPastStart |= lowerAt[row] > 0 ? RowMask{1} << row : 0;
    }
    RowMask upperPastStart = 0;
    for (RowMask rows = found.upper & ~found.lower; rows != 0; rows &= rows - 1) {
        const int row = std::countr_zero(rows);
        upperPastStart |= upperAt[row] > 0 ? RowMask{1} << row : 0;
    }
    const RowMask winners = lowerPastStart | upperPastStart;
    if (winners != 0) {
        const int row = std::countr_zero(winners);
        const bool own = (lowerPastStart >> row) & 1;
        return Match{row, own ? lowerAt[row] : upperAt[row]};
    }
    return std::nullopt;
}
