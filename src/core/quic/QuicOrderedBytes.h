#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "core/quic/QuicHeldBudget.h"

// Puts the bytes of one stream (or one level's CRYPTO data) back in order from the pieces that
// frames carry at their offsets: pieces ahead of the next byte are held, up to a bound, and
// bytes already passed on (retransmissions, overlaps) are dropped. Never invents a byte.
class QuicOrderedBytes {
  public:
    enum class Add {
        Ok,
        OverBound,     // holding the piece would pass the bound: a gap will never close here
        Inconsistent,  // data past the final size, or two final sizes
    };

    // `limit`: bytes held out of order here; `budget` (optional) is charged as well.
    explicit QuicOrderedBytes(std::size_t limit, QuicHeldBudget* budget = nullptr)
        : limit_(limit), budget_(budget) {}
    ~QuicOrderedBytes() { dropHeld(); }
    QuicOrderedBytes(const QuicOrderedBytes&) = delete;
    QuicOrderedBytes& operator=(const QuicOrderedBytes&) = delete;
    QuicOrderedBytes(QuicOrderedBytes&& other) noexcept;
    QuicOrderedBytes& operator=(QuicOrderedBytes&&) = delete;

    // Takes the piece at `offset` (`fin`: it ends the stream) and calls deliver(bytes, fin) for
    // every run of bytes now in order; deliver returns false to stop at once.
    template <class Deliver>
    Add add(std::uint64_t offset, std::span<const std::uint8_t> data, bool fin, Deliver&& deliver) {
        std::span<const std::uint8_t> ready;
        Add result = accept(offset, data, fin, ready);
        if (result != Add::Ok) {
            return result;
        }
        if (!ready.empty() || (atEnd() && !finishReported_)) {
            next_ += ready.size();
            if (!report(ready, deliver)) {
                return Add::Ok;
            }
        }
        std::vector<std::uint8_t> piece;
        while (takeHeld(piece)) {
            if (!report(piece, deliver)) {
                break;
            }
        }
        return Add::Ok;
    }

    std::uint64_t delivered() const { return next_; }
    // Bytes held out of order, with the charge per piece.
    std::size_t held() const { return heldBytes_; }
    // Every byte up to the final size was passed on.
    bool finished() const { return finishReported_; }
    void dropHeld();

  private:
    Add accept(std::uint64_t offset, std::span<const std::uint8_t> data, bool fin,
               std::span<const std::uint8_t>& ready);
    bool hold(std::uint64_t offset, std::span<const std::uint8_t> data);
    bool takeHeld(std::vector<std::uint8_t>& piece);
    bool atEnd() const { return finalSize_ && next_ == *finalSize_; }

    template <class Deliver>
    bool report(std::span<const std::uint8_t> bytes, Deliver& deliver) {
        bool end = atEnd();
        finishReported_ = finishReported_ || end;
        return deliver(bytes, end);
    }

    std::size_t limit_;
    QuicHeldBudget* budget_;
    std::map<std::uint64_t, std::vector<std::uint8_t>> held_;  // by offset, none overlapping
    std::size_t heldBytes_ = 0;
    std::uint64_t next_ = 0;
    std::optional<std::uint64_t> finalSize_;
    bool finishReported_ = false;
};
