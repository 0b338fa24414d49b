#include "core/flow/HeldSegments.h"

#include <algorithm>
#include <iterator>

std::vector<HeldSegments::Piece> HeldSegments::uncovered(std::uint64_t offset,
                                                         std::size_t length) const {
    std::vector<Piece> parts;
    const std::uint64_t end = offset + length;
    std::uint64_t at = offset;
    auto next = pieces_.upper_bound(at);
    if (next != pieces_.begin()) {
        auto before = std::prev(next);
        at = std::max(at, before->first + before->second.size());
    }
    while (at < end) {
        const std::uint64_t gapEnd = next == pieces_.end() ? end : std::min(end, next->first);
        if (gapEnd > at) {
            parts.push_back({at, static_cast<std::size_t>(gapEnd - at)});
        }
        if (next == pieces_.end()) {
            break;
        }
        at = std::max(at, next->first + next->second.size());
        ++next;
    }
    return parts;
}

std::optional<std::size_t> HeldSegments::hold(std::uint64_t offset,
                                              std::span<const std::uint8_t> bytes,
                                              std::size_t maxCharge) {
    const std::vector<Piece> parts = uncovered(offset, bytes.size());
    std::size_t added = 0;
    for (const Piece& part : parts) {
        added += part.length + kPieceCharge;
    }
    if (added > maxCharge) {
        return std::nullopt;
    }
    for (const Piece& part : parts) {
        const auto* from = bytes.data() + (part.offset - offset);
        pieces_.emplace(part.offset, std::vector<std::uint8_t>(from, from + part.length));
    }
    charge_ += added;
    return added;
}

void HeldSegments::erase(std::map<std::uint64_t, std::vector<std::uint8_t>>::iterator piece) {
    charge_ -= piece->second.size() + kPieceCharge;
    pieces_.erase(piece);
}

void HeldSegments::clear() {
    pieces_.clear();
    charge_ = 0;
}
