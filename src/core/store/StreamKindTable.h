#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/detect/StreamFields.h"
#include "core/store/StreamKind.h"

// The kinds of the store's rows, each kept once; a row refers to its kind by number.
class StreamKindTable {
  public:
    // The number of the record's kind, added when new.
    std::uint32_t intern(const StreamFields& record);
    const StreamKind& at(std::uint32_t kind) const { return kinds_[kind]; }
    void clear();

  private:
    std::uint32_t findOrAdd(const StreamFields& record);

    // Kinds by the detector's key (key 0: none).
    struct KnownKind {
        std::uint64_t key = 0;
        std::uint32_t kind = 0;
    };

    std::vector<StreamKind> kinds_;
    std::unordered_map<std::string, std::uint32_t> kindIndex_;
    std::uint32_t lastKind_ = 0;
    std::array<KnownKind, 1024> knownKinds_{};
};
