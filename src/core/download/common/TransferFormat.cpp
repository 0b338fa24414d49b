#include "core/download/common/TransferFormat.h"

#include <charconv>
#include <cmath>

namespace {

// std::to_chars ignores the C locale, so a desktop session with a decimal comma still gets
// "1.5 KB".
std::string Fixed(double value, int decimals) {
    if (!std::isfinite(value)) {
        return "0";
    }
    char buffer[400];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) {
        return "0";
    }
    return std::string(buffer, result.ptr);
}

}  // namespace

std::string FormatSize(std::uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " Byte";
    }
    if (bytes < 1048576) {
        return Fixed(static_cast<double>(bytes) / 1024.0, 1) + " KB";
    }
    return Fixed(static_cast<double>(bytes) / 1048576.0, 2) + " MB";
}

std::string FormatTimeLeft(std::uint32_t seconds) {
    if (seconds < 60) {
        return std::to_string(seconds) + " 秒";
    }
    if (seconds % 60 == 0) {
        return std::to_string(seconds / 60) + " 分";
    }
    return std::to_string(seconds / 60) + "分 " + std::to_string(seconds % 60) + "秒";
}

std::string FormatRate(double rate) {
    if (rate < 1.0) {
        return Fixed(rate * 1024.0, 0) + " B/S";
    }
    if (rate < 10.0) {
        return Fixed(rate, 2) + " KB/S";
    }
    return Fixed(rate, 0) + " KB/S";
}
