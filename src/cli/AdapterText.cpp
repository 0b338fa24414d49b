#include "cli/AdapterText.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "cli/JsonLine.h"

std::string AdapterText::PhysAddress(const AdapterEntry& entry) {
    std::string text;
    std::size_t length = std::min<std::size_t>(entry.physAddressLength, sizeof entry.physAddress);
    for (std::size_t i = 0; i < length; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : ":%02x", entry.physAddress[i]);
        text += byte;
    }
    return text;
}

std::string AdapterText::Ipv4(const std::uint8_t* address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, address, text, sizeof text);
    return text;
}

std::string AdapterText::Ipv6(const std::uint8_t* address) {
    static constexpr std::uint8_t kZero[16] = {};
    if (std::memcmp(address, kZero, sizeof kZero) == 0) {
        return {};
    }
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, address, text, sizeof text);
    return text;
}

std::string AdapterText::Address(const AdapterEntry& entry) {
    return IsIpv6Only(entry) ? Ipv6(entry.address6) : Ipv4(entry.address);
}

std::string AdapterText::Description(const AdapterEntry& entry) {
    return std::string(entry.description, strnlen(entry.description, sizeof entry.description));
}

std::string AdapterText::JsonLine(const AdapterEntry& entry, int index) {
    ::JsonLine line;
    line.add("index", index)
        .add("ifType", entry.ifType)
        .add("physAddress", PhysAddress(entry))
        .add("address", Ipv4(entry.address))
        .add("mask", Ipv4(entry.netMask))
        .add("address6", Ipv6(entry.address6))
        .add("description", Description(entry));
    return line.str();
}

std::string AdapterText::PlainLine(const AdapterEntry& entry, int index) {
    char line[512];
    // An adapter without IPv4 shows its IPv6 address, and no mask.
    std::snprintf(line, sizeof line, "%d\t%s\t%s\t%s\t%s\ttype %d", index,
                  Description(entry).c_str(), Address(entry).c_str(),
                  IsIpv6Only(entry) ? "-" : Ipv4(entry.netMask).c_str(), PhysAddress(entry).c_str(),
                  entry.ifType);
    return line;
}

std::optional<int> AdapterText::Choose(const std::vector<AdapterEntry>& entries,
                                       const std::optional<std::string>& wanted,
                                       std::string& error) {
    if (entries.empty()) {
        error = "no adapter with an IP address to monitor";
        return std::nullopt;
    }
    if (!wanted) {
        if (entries.size() == 1) {
            return 0;
        }
        error = "several adapters; choose one with --adapter:";
        for (std::size_t i = 0; i < entries.size(); ++i) {
            error.append(" ").append(std::to_string(i)).append("=");
            error.append(Description(entries[i])).append("(");
            error.append(Address(entries[i])).append(")");
        }
        return std::nullopt;
    }
    const std::string& text = *wanted;
    unsigned index = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), index);
    if (!text.empty() && ec == std::errc() && end == text.data() + text.size()) {
        if (index < entries.size()) {
            return static_cast<int>(index);
        }
        error =
            "no adapter with index " + text + " (there are " + std::to_string(entries.size()) + ")";
        return std::nullopt;
    }
    std::uint8_t ipv6[16] = {};
    bool isIpv6 = ::inet_pton(AF_INET6, text.c_str(), ipv6) == 1;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const AdapterEntry& entry = entries[i];
        bool byIpv6 = isIpv6 && std::memcmp(entry.address6, ipv6, sizeof ipv6) == 0;
        if (Description(entry) == text || (!IsIpv6Only(entry) && Ipv4(entry.address) == text) ||
            byIpv6) {
            return static_cast<int>(i);
        }
    }
    error = "no adapter '";
    error.append(text).append("' (see quorvex-cli adapters)");
    return std::nullopt;
}
