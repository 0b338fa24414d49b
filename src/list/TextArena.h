#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

// Keeps many short texts in large blocks: no allocation per text, no per-text overhead, and a
// text's address never changes until clear().
class TextArena {
  public:
    // Stores `first` and `second`, each followed by a zero byte, one after the other, and
    // returns where `first` begins.
    const char* store(std::string_view first, std::string_view second);

    void clear();
    std::size_t bytesReserved() const { return blocks_.size() * kBlockSize; }

  private:
    static constexpr std::size_t kBlockSize = 1 << 20;

    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
};
