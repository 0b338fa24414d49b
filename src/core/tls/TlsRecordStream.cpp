#include "core/tls/TlsRecordStream.h"

#include <algorithm>

namespace {

std::uint16_t readBe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

constexpr std::uint8_t kFirstContentType = 20;  // change_cipher_spec
constexpr std::uint8_t kLastContentType = 24;   // heartbeat

}  // namespace

bool TlsRecordStream::validHeader(std::span<const std::uint8_t> header) {
    if (header.size() < kHeaderLength) {
        return false;
    }
    // Record versions are 3.0 to 3.4; TLS 1.3 keeps writing 3.3 (3.1 in a first ClientHello).
    return header[0] >= kFirstContentType && header[0] <= kLastContentType && header[1] == 3 &&
           header[2] <= 4 && readBe16(header.data() + 3) <= kMaxBody;
}

std::size_t TlsRecordStream::recordLength(std::span<const std::uint8_t> header) {
    return kHeaderLength + readBe16(header.data() + 3);
}

void TlsRecordStream::begin(std::span<const std::uint8_t> bytes) {
    input_ = bytes;
    pendingLength_ = 0;
}

void TlsRecordStream::topUp(std::size_t wanted) {
    std::size_t have = held();
    if (have >= wanted) {
        return;
    }
    std::size_t take = std::min(wanted - have, input_.size());
    held_.insert(held_.end(), input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(take));
    input_ = input_.subspan(take);
}

TlsRecordStream::Next TlsRecordStream::next(Record& record) {
    std::span<const std::uint8_t> bytes = input_;
    pendingInHeld_ = held() > 0;
    if (pendingInHeld_) {
        // Finish the held record from the input first, taking no more than it needs.
        topUp(kHeaderLength);
        if (held() >= kHeaderLength && validHeader({held_.data() + heldStart_, held()})) {
            topUp(recordLength({held_.data() + heldStart_, held()}));
        }
        bytes = {held_.data() + heldStart_, held()};
    }
    if (bytes.size() < kHeaderLength) {
        return Next::NeedMore;
    }
    if (!validHeader(bytes)) {
        return Next::BadHeader;
    }
    std::size_t length = recordLength(bytes);
    if (bytes.size() < length) {
        return Next::NeedMore;
    }
    record.type = bytes[0];
    record.version = readBe16(bytes.data() + 1);
    record.header = bytes.first(kHeaderLength);
    record.body = bytes.subspan(kHeaderLength, length - kHeaderLength);
    pendingLength_ = length;
    return Next::Record;
}

void TlsRecordStream::consume() {
    if (pendingInHeld_) {
        heldStart_ += pendingLength_;
        if (heldStart_ == held_.size()) {
            held_.clear();
            heldStart_ = 0;
        }
    } else {
        input_ = input_.subspan(pendingLength_);
    }
    pendingLength_ = 0;
}

void TlsRecordStream::end() {
    if (heldStart_ > 0) {
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(heldStart_));
        heldStart_ = 0;
    }
    held_.insert(held_.end(), input_.begin(), input_.end());
    input_ = {};
    pendingLength_ = 0;
}

void TlsRecordStream::dropHeld() {
    held_.clear();
    held_.shrink_to_fit();
    heldStart_ = 0;
    input_ = {};
    pendingLength_ = 0;
}
