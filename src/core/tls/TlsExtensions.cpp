#include "core/tls/TlsExtensions.h"

#include <algorithm>

namespace {

bool printableAscii(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](std::uint8_t c) { return c > 0x20 && c < 0x7F; });
}

std::string text(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

bool TlsExtensions::alpnProtocols(std::span<const std::uint8_t> data, std::vector<std::string>& out,
                                  std::size_t maxCount) {
    ByteReader outer(data);
    std::span<const std::uint8_t> list;
    if (!outer.vector(2, list) || !outer.empty() || list.empty()) {
        return false;
    }
    ByteReader reader(list);
    while (!reader.empty()) {
        std::span<const std::uint8_t> name;
        if (!reader.vector(1, name) || name.empty()) {
            return false;
        }
        if (out.size() < maxCount) {
            out.push_back(text(name));
        }
    }
    return true;
}

bool TlsExtensions::hostName(std::span<const std::uint8_t> data, std::string& out) {
    ByteReader outer(data);
    std::span<const std::uint8_t> list;
    if (!outer.vector(2, list)) {
        return false;
    }
    ByteReader reader(list);
    while (!reader.empty()) {
        std::uint8_t nameType = 0;
        std::span<const std::uint8_t> name;
        if (!reader.u8(nameType) || !reader.vector(2, name)) {
            return false;
        }
        constexpr std::uint8_t kHostName = 0;
        if (nameType == kHostName && out.empty() && name.size() <= kMaxHostName &&
            printableAscii(name)) {
            out = text(name);
        }
    }
    return true;
}

bool TlsExtensions::chosenAlpn(std::span<const std::uint8_t> encryptedExtensions,
                               std::string& out) {
    ByteReader reader(encryptedExtensions);
    std::span<const std::uint8_t> block;
    if (!reader.vector(2, block)) {
        return false;
    }
    return forEach(block, [&](std::uint16_t type, std::span<const std::uint8_t> data) {
        if (type != kAlpn) {
            return true;
        }
        std::vector<std::string> names;
        if (!alpnProtocols(data, names, 1) || names.empty()) {
            return false;
        }
        out = names.front();
        return true;
    });
}
