#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

// One direction's bytes that came ahead of a hole, by their offset in the stream (counted from
// the direction's first byte, so that it never wraps). The pieces never overlap: where bytes
// arrive twice, the first copy is kept.
class HeldSegments {
  public:
    // What a held piece costs beyond its bytes: the node and the allocation that keep it. Charged
    // so that many tiny pieces cannot take far more memory than the bound says.
    static constexpr std::size_t kPieceCharge = 64;

    // Keeps the parts of `bytes` (starting at stream offset `offset`) not held yet, when their
    // charge fits within `maxCharge`. The charge added; nullopt (and nothing kept) when over.
    std::optional<std::size_t> hold(std::uint64_t offset, std::span<const std::uint8_t> bytes,
                                    std::size_t maxCharge);

    // Hands `deliver` the held bytes that continue the stream at `delivered`, in order, advancing
    // `delivered` past each. Stops at the next hole, or when `deliver` returns false (then false).
    template <typename Deliver>
    bool release(std::uint64_t& delivered, Deliver&& deliver);

    // Whether held pieces cover all of [offset, offset + length).
    bool covers(std::uint64_t offset, std::size_t length) const {
        return uncovered(offset, length).empty();
    }

    bool empty() const { return pieces_.empty(); }
    // Where the first held piece starts; only when not empty.
    std::uint64_t firstOffset() const { return pieces_.begin()->first; }
    std::size_t charge() const { return charge_; }
    void clear();

  private:
    struct Piece {
        std::uint64_t offset;
        std::size_t length;
    };

    // The parts of [offset, offset + length) that no held piece covers.
    std::vector<Piece> uncovered(std::uint64_t offset, std::size_t length) const;
    void erase(std::map<std::uint64_t, std::vector<std::uint8_t>>::iterator piece);

    std::map<std::uint64_t, std::vector<std::uint8_t>> pieces_;
    std::size_t charge_ = 0;
};

template <typename Deliver>
bool HeldSegments::release(std::uint64_t& delivered, Deliver&& deliver) {
    while (!pieces_.empty() && pieces_.begin()->first <= delivered) {
        auto first = pieces_.begin();
        const std::uint64_t end = first->first + first->second.size();
        bool wanted = true;
        if (end > delivered) {
            const auto skip = static_cast<std::size_t>(delivered - first->first);
            wanted = deliver(std::span<const std::uint8_t>(first->second).subspan(skip));
            delivered = end;
        }
        erase(first);
        if (!wanted) {
            return false;
        }
    }
    return true;
}
