#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/detect/DetectedStream.h"
#include "core/detect/StreamFields.h"
#include "core/store/SharedRequestHeaders.h"

// The request headers rows share, each set kept once and counted by its users. A row refers to
// its set by a reference: 1 + its index, 0 for none.
class SharedRequestHeaderTable {
  public:
    // The reference of the record's headers, added when new; counts one more user. Throws
    // std::bad_alloc, the table as it was, when memory runs out.
    std::uint32_t intern(const StreamFields& record);
    // Counts one user less; the last one frees the headers.
    void release(std::uint32_t reference);
    bool matches(std::uint32_t reference, const StreamFields& record) const {
        return entries_[reference - 1].sameAs(record);
    }
    // Sets the header fields of `out`; reference 0 empties them.
    void fill(std::uint32_t reference, DetectedStream& out) const;
    // Whether no headers were kept since the last clear().
    bool empty() const { return entries_.empty(); }
    void clear();

  private:
    std::uint32_t internNew(std::string joined);

    // A deque, so that the index's views of its texts stay put.
    std::deque<SharedRequestHeaders> entries_;
    std::unordered_map<std::string_view, std::uint32_t> index_;
    std::vector<std::uint32_t> freeEntries_;
    std::uint32_t lastEntry_ = 0;
};
