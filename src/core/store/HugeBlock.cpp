#include "core/store/HugeBlock.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <utility>

HugeBlock::HugeBlock(std::size_t size, bool hugePages) {
    if (size == 0) {
        return;
    }
    if (size < kHugePage || !hugePages) {
        // Anonymous mappings come zero-filled and go back to the system on release.
        data_ = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (data_ == MAP_FAILED) {
            data_ = nullptr;
            throw std::bad_alloc();
        }
        size_ = size;
        return;
    }
    // Whole huge pages, aligned: map one page more, then give back the ragged ends.
    size = (size + kHugePage - 1) / kHugePage * kHugePage;
    std::size_t span = size + kHugePage;
    void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    auto start = reinterpret_cast<std::uintptr_t>(mapped);
    std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) {
        munmap(mapped, aligned - start);
    }
    std::size_t tail = start + span - (aligned + size);
    if (tail > 0) {
        munmap(reinterpret_cast<void*>(aligned + size), tail);
    }
    data_ = reinterpret_cast<void*>(aligned);
    size_ = size;
    madvise(data_, size_, MADV_HUGEPAGE);
}

void HugeBlock::faultIn() {
    constexpr std::size_t kPage = 4096;
    // A zero written, not a byte read and written back: a read would first map the shared
    // zero page, and the write then fault a second time to replace it.
    auto* bytes = static_cast<volatile char*>(data_);
    for (std::size_t at = 0; at < size_; at += kPage) {
        bytes[at] = 0;
    }
}

HugeBlock::~HugeBlock() {
    if (data_ != nullptr) {
        munmap(data_, size_);
    }
}

HugeBlock::HugeBlock(HugeBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

HugeBlock& HugeBlock::operator=(HugeBlock&& other) noexcept {
    if (this != &other) {
        if (data_ != nullptr) {
            munmap(data_, size_);
        }
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}
