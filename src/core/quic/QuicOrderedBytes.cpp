#include "core/quic/QuicOrderedBytes.h"

#include <iterator>
#include <utility>

QuicOrderedBytes::QuicOrderedBytes(QuicOrderedBytes&& other) noexcept
    : limit_(other.limit_),
      budget_(other.budget_),
      held_(std::move(other.held_)),
      heldBytes_(std::exchange(other.heldBytes_, 0)),
      next_(other.next_),
      finalSize_(other.finalSize_),
      finishReported_(other.finishReported_) {
    other.held_.clear();
}

void QuicOrderedBytes::dropHeld() {
    held_.clear();
    if (budget_ != nullptr) {
        budget_->give(heldBytes_);
    }
    heldBytes_ = 0;
}

QuicOrderedBytes::Add QuicOrderedBytes::accept(std::uint64_t offset,
                                               std::span<const std::uint8_t> data, bool fin,
                                               std::span<const std::uint8_t>& ready) {
    ready = {};
    if (finishReported_) {
        return Add::Ok;  // all was passed on: this can only repeat it
    }
    const std::uint64_t end = offset + data.size();
    if (fin) {
        const bool heldPast =
            !held_.empty() &&
            std::prev(held_.end())->first + std::prev(held_.end())->second.size() > end;
        if ((finalSize_ && *finalSize_ != end) || end < next_ || heldPast) {
            return Add::Inconsistent;
        }
        finalSize_ = end;
    }
    if (finalSize_ && end > *finalSize_) {
        return Add::Inconsistent;
    }
    if (end <= next_) {
        return Add::Ok;
    }
    if (offset <= next_) {
        ready = data.subspan(static_cast<std::size_t>(next_ - offset));
        return Add::Ok;
    }
    return hold(offset, data) ? Add::Ok : Add::OverBound;
}

// Keeps the bytes of the piece that no held piece has yet.
bool QuicOrderedBytes::hold(std::uint64_t offset, std::span<const std::uint8_t> data) {
    const std::uint64_t end = offset + data.size();
    std::uint64_t at = offset;
    auto after = held_.upper_bound(at);
    if (after != held_.begin()) {
        auto before = std::prev(after);
        at = std::max(at, before->first + before->second.size());
    }
    while (at < end) {
        auto next = held_.lower_bound(at);
        const std::uint64_t stop = next == held_.end() ? end : std::min(end, next->first);
        if (stop > at) {
            const std::size_t size = static_cast<std::size_t>(stop - at);
            const std::size_t charge = size + QuicHeldBudget::kPieceCharge;
            if (charge > limit_ - heldBytes_ || (budget_ != nullptr && !budget_->take(charge))) {
                return false;
            }
            heldBytes_ += charge;
            auto from = data.begin() + static_cast<std::ptrdiff_t>(at - offset);
            held_.emplace(
                at, std::vector<std::uint8_t>(from, from + static_cast<std::ptrdiff_t>(size)));
        }
        if (next == held_.end() || next->first >= end) {
            break;
        }
        at = next->first + next->second.size();
    }
    return true;
}

// The first held piece once it reaches the next byte, its front trimmed to it.
bool QuicOrderedBytes::takeHeld(std::vector<std::uint8_t>& piece) {
    while (!held_.empty() && held_.begin()->first <= next_) {
        auto first = held_.begin();
        const std::uint64_t start = first->first;
        piece = std::move(first->second);
        held_.erase(first);
        const std::size_t charge = piece.size() + QuicHeldBudget::kPieceCharge;
        heldBytes_ -= charge;
        if (budget_ != nullptr) {
            budget_->give(charge);
        }
        if (start + piece.size() <= next_) {
            continue;  // the in-order bytes covered it meanwhile
        }
        piece.erase(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(next_ - start));
        next_ += piece.size();
        return true;
    }
    return false;
}
