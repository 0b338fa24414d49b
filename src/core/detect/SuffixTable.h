#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "core/detect/SuffixEntry.h"

// The target suffix list in memory: up to 64 rows in file order. A table is built aside, then
// published as std::shared_ptr<const SuffixTable>; once published it never changes, so the
// capture thread can read a snapshot while the user interface builds the next one.
class SuffixTable {
  public:
    static constexpr int kCapacity = 64;
    static constexpr std::size_t kMaxSuffixLength = SuffixEntry::kSuffixCapacity - 1;
    static constexpr std::size_t kMaxTypeNameLength = SuffixEntry::kTypeNameCapacity - 1;

    struct Match {
        int row;
        std::size_t position;  // of the suffix in the searched text
    };

    SuffixTable();

    // The known suffixes in their own order: the table a default list file gives.
    static std::shared_ptr<const SuffixTable> withKnownSuffixes();

    int count() const { return count_; }
    const SuffixEntry& row(int index) const { return rows_[static_cast<std::size_t>(index)]; }

    // Appends a row. Refused (false) when the table is full or a text does not fit its field.
    bool add(std::string_view suffix, std::string_view typeName);

    // The first row, in table order, whose suffix occurs in `text` at a position above 0 (the
    // row's own text first; only when that does not occur at all, its upper-case form), and
    // where. Searches are multibyte-aware; one pass over the text for all rows.
    std::optional<Match> findFirstMatch(std::string_view text, bool singleBytes = false) const;

  private:
    using RowMask = std::uint64_t;

    struct Form {
        char text[SuffixEntry::kSuffixCapacity];
        std::uint8_t length;
        std::uint64_t word;  // the text as loaded from memory, for one-step comparison
        std::uint64_t mask;  // covers `length` bytes
    };

    void indexForm(int row, const Form& form, std::array<RowMask, 256>& first,
                   std::array<RowMask, 256>& second);
    // The rows whose lower / upper form was found, each where its bit says.
    struct Found {
        RowMask lower;
        RowMask upper;
    };
    Found scan(std::string_view text, std::size_t* lowerAt, std::size_t* upperAt,
               bool singleBytes) const;

    int count_ = 0;
    std::array<SuffixEntry, kCapacity> rows_{};
    std::array<Form, kCapacity> lower_{};
    std::array<Form, kCapacity> upper_{};
    RowMask searched_ = 0;  // rows with a non-empty suffix
    // Rows whose form starts with a byte / has a byte as its second (length-1 forms: every
    // byte, so the end of the text reads as byte 0).
    std::array<RowMask, 256> lowerFirst_{};
    std::array<RowMask, 256> lowerSecond_{};
    std::array<RowMask, 256> upperFirst_{};
    std::array<RowMask, 256> upperSecond_{};
    std::array<bool, 256> secondByte_{};  // some form has it second (or is one byte long)
    std::array<bool, 256> startByte_{};
    int startByteCount_ = 0;
    unsigned char onlyStartByte_ = 0;
};
