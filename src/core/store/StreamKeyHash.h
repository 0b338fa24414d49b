#pragma once

#include <cstdint>
#include <string_view>

// The hash a row is found by in the store's index: of its host and path.
class StreamKeyHash {
  public:
    static std::uint32_t of(std::string_view host, std::string_view path);

  private:
    static std::uint64_t mix(std::uint64_t h, std::uint64_t word);
    static std::uint64_t hashBytes(std::uint64_t h, std::string_view bytes);
};
